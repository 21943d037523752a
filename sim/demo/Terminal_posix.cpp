#include "Terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace demo {

static_assert(sizeof(termios) <= 128, "saved_ holds a termios");

bool IsTerminal(std::FILE *stream) { return isatty(fileno(stream)) == 1; }

bool EnableEscapeSequences(std::FILE *) { return true; }

RawKeys::RawKeys()
{
    termios settings;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &settings) != 0)
        return;
    std::memcpy(saved_, &settings, sizeof settings);
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0;
}

RawKeys::~RawKeys()
{
    if (!active_)
        return;
    termios settings;
    std::memcpy(&settings, saved_, sizeof settings);
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
}

int ReadKey()
{
    for (;;) {
        unsigned char key = 0;
        const ssize_t n = read(STDIN_FILENO, &key, 1);
        if (n == 1)
            return key;
        if (n == 0 || errno != EINTR)
            return -1;
    }
}

} // namespace demo
