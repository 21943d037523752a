#pragma once
// What the demo needs of the terminal: whether output goes to one (live view or plain lines),
// escape sequences switched on where the console needs it, and single key presses without
// waiting for a line end.
#include <cstdio>

namespace demo {

bool IsTerminal(std::FILE *stream);

// Lets the console interpret the live view's cursor sequences; false when it cannot.
bool EnableEscapeSequences(std::FILE *stream);

// While alive, keys on a terminal's standard input arrive one by one without echo. Does nothing
// when standard input is not a terminal.
class RawKeys {
public:
    RawKeys();
    ~RawKeys();
    RawKeys(const RawKeys &) = delete;
    RawKeys &operator=(const RawKeys &) = delete;

private:
    bool active_ = false;
    unsigned char saved_[128] = {};  // the terminal's settings to put back
};

// Blocks for the next key (a byte) from standard input; -1 at its end.
int ReadKey();

} // namespace demo
