#pragma once
// A stand-in for the relay program in the relay-control tests. The driver passes nothing to its
// relay, so the test directs the stand-in through the environment that the child inherits:
//   TARVOLT_STANDIN_REPORT  file to write what it observed about its start into
//   TARVOLT_STANDIN_PROBE   a handle or descriptor the test left inheritable
//   TARVOLT_STANDIN_EXIT    exit at once with this code after reporting, instead of running on
//   TARVOLT_STANDIN_HOLD_LOCK  take the pose lock after reporting and never free it (a relay
//                           killed or ended in the middle of its copy)
//   TARVOLT_STANDIN_ONCE    a file: the two directions above apply only to a stand-in that finds
//                           it missing, and that one makes it (a relay started again runs on)
// The report also tells the pose lock as the stand-in found it at its start (lock_at_start: 0, 1,
// or none without a block).
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
