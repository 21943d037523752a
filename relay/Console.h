#pragma once
// The relay's console: its messages on standard output, and the wait for a key on its way out.
#include <string>

namespace tarvolt {

// Writes text and a newline to standard output in 8-bit characters, and flushes.
void PrintLine(const char *text);
inline void PrintLine(const std::string &text) { PrintLine(text.c_str()); }

// Reads one character from standard input, waiting for it if none is there yet. Returns at once
// when standard input has ended, is closed, or is connected to nothing anyone can type into (as
// when the driver starts the relay without a console window).
void WaitForOneInputCharacter();

} // namespace tarvolt
