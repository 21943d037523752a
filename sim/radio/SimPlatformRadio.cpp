// Makes the simulated radio the platform radio of the program or library it is linked into, and
// the simulation's clock its clock.
#include "SimClock.h"
#include "SimRadio.h"

namespace tarvolt {

Clock &PlatformClock() { return sim::SimClockInstance(); }

namespace radio {

Radio &PlatformRadio() { return sim::SimRadioInstance(); }

} // namespace radio

} // namespace tarvolt
