#include "Console.h"

#include <cstdio>

namespace tarvolt {

// A closed descriptor, /dev/null or a pipe whose writer has gone all give end of input at once.
void WaitForOneInputCharacter() { (void)std::getchar(); }

} // namespace tarvolt
