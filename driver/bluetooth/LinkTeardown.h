#pragma once
// Letting a connection go, in one order and each object once: every handler off, notifications
// turned off where the link is still up, the request to keep the link withdrawn (our own
// request holds the link up), the services closed, the device closed. After a drop the device
// may be kept instead, with its request, for the system to restore the link while the link
// searches (LinkSearch.h).
#include "LinkContext.h"

namespace tarvolt {

void ReleaseConnection(LinkContext &context, bool keepDevice = false);

} // namespace tarvolt
