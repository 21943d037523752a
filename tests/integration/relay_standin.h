#pragma once
// A stand-in for the relay program in the relay-control tests. The driver passes nothing to its
// relay, so the test directs the stand-in through the environment that the child inherits:
//   TARVOLT_STANDIN_REPORT  file to write what it observed about its start into
//   TARVOLT_STANDIN_PROBE   a handle or descriptor the test left inheritable
//   TARVOLT_STANDIN_EXIT    exit at once with this code after reporting, instead of running on
#include <string>

namespace standin {

// key=value lines: executable, cwd, pid, console, stdin/stdout/stderr, probe_inherited. Paths
// in UTF-8.
std::string Observe(const std::string &probe);
// An environment variable's value in UTF-8 ("" when it is not set).
std::string Environment(const char *name);
// Writes the report (path in UTF-8) under a temporary name and renames it, so the test never reads
// half of it.
bool PublishReport(const std::string &path, const std::string &text);
// Runs until terminated.
[[noreturn]] void RunUntilTerminated();

} // namespace standin
