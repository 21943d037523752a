#include "ControllerDriver.h"

namespace tarvolt {

void ControllerDriver::UpdateFrame() {}

} // namespace tarvolt
