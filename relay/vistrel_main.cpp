// vistrel: started by the driver when its device is activated; see Relay.h.
#include "Relay.h"

int main() { return tarvolt::RunRelay(); }
