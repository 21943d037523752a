// Makes the simulated radio the platform radio of the program or library it is linked into.
#include "SimRadio.h"

namespace tarvolt::radio {

Radio &PlatformRadio() { return sim::SimRadioInstance(); }

} // namespace tarvolt::radio
