#include "Console.h"

#include <signal.h>

namespace tarvolt::probe {

ConsoleSession::ConsoleSession() { signal(SIGPIPE, SIG_IGN); }

ConsoleSession::~ConsoleSession() = default;

} // namespace tarvolt::probe
