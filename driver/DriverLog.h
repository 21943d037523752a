#pragma once
// Every message of the driver goes to the runtime's driver log, one Log call per message,
// without a line end.
#include <string>

namespace tarvolt {

void Log(const char *message);
inline void Log(const std::string &message) { Log(message.c_str()); }

} // namespace tarvolt
