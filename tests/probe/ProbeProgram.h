#pragma once
// tarvolt-probe as a user runs it, in a process of its own: the shipped program from pkg/, or its
// test build from pkg-sim/ on the simulated radio, scripted through its standard input. Its
// report is read line by line as it comes; every wait ends on a line or the program's end.
#include "DriverLibrary.h"
#include "ProgramRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace probe_test {

using namespace std::chrono_literals;
inline constexpr std::chrono::milliseconds kLimit = 60s;  // only reached by a failing test

inline std::string ProbeIn(const char *packageRoot)
{
    return testing_support::ProgramIn(
        sim::DriverBinaryDirectory(testing_support::PathIn(sim::BuildDirectory(), packageRoot)), "tarvolt-probe");
}
inline std::string SimProbe() { return ProbeIn("pkg-sim"); }
inline std::string ShippedProbe() { return ProbeIn("pkg"); }

inline bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The test build's own last line: what the probe left in the simulated radio.
inline const std::string kNothingLeft = "sim: devices held 0, handlers attached 0, scans running 0";

class Probe {
public:
    // Starts the program; `script` (test build) sets the scene before the probe runs.
    bool Start(const std::string &program, const std::vector<std::string> &args,
               const std::vector<std::string> &script = {})
    {
        testing_support::StartOptions options;
        options.captureStderr = true;
        if (!run_.Start(program, args, options))
            return false;
        for (const std::string &line : script)
            Send(line);
        if (!script.empty())
            Send("run");
        return true;
    }
    void Send(const std::string &line) { run_.WriteStdin(line + "\n"); }
    // Waits for `count` lines that hold `part`.
    bool WaitFor(const std::string &part, size_t count = 1)
    {
        return run_.WaitForLineWhere([&](const std::string &line) { return Contains(line, part); }, kLimit, count);
    }
    int Exit() { return run_.WaitForExit(kLimit).value_or(-1); }
    bool Interrupt() { return run_.Interrupt(); }
    // Every line, the test build's "sim: " lines included.
    std::vector<std::string> Lines() const { return run_.Lines(); }
    // The probe's report alone.
    std::vector<std::string> Report() const
    {
        std::vector<std::string> out;
        for (const std::string &line : run_.Lines())
            if (line.rfind("sim: ", 0) != 0)
                out.push_back(line);
        return out;
    }
    size_t Count(const std::string &part) const
    {
        size_t n = 0;
        for (const std::string &line : run_.Lines())
            n += Contains(line, part) ? 1 : 0;
        return n;
    }

private:
    testing_support::ProgramRun run_;
};

} // namespace probe_test
