#pragma once
// Scripts the simulated radio from lines of text, for tarvolt-probe's test build: what a test
// or the demo writes on the probe's standard input. One command a line:
//
//   ready | no-adapter | adapter-off | stack-missing | classes-unavailable | unusable
//   rifle <address> [rssi]                  the rifle as it is built
//   rifle-without-service <address> [rssi]  a device named like the rifle, without its service
//   device <address> <rssi> [name...]       another device (no name: it advertises none)
//   notify <peripheral> <byte>...           bytes in hexadecimal, e.g. notify 0 5B 00 00 00 00 5D
//   drop <peripheral>                       the link is lost
//   advertise <peripheral> on|off
//   hold <peripheral>                       another program connects it and keeps the link
//   end-scan                                the platform ends every scan by itself
//
// Addresses are written AA:BB:CC:DD:EE:FF; peripherals are numbered from 0 in the order they
// were added. Blank lines and lines starting with # are passed over.
#include "RadioControl.h"

#include <string>

namespace sim {

// False with the reason when the line cannot be read.
bool RunScriptLine(RadioControl &radio, const std::string &line, std::string &error);

} // namespace sim
