// vistrel.exe under Wine: the Windows build's bench-wine/vrserver.exe starts it, runs the frames
// and counts its passes and the poses' ages; this side reads its processor time, and wineserver's,
// from /proc, because Wine reports no times for another process. Under Wine a process is a Unix
// process named after its program.
#include "E2eRelay.h"
#include "E2eSupport.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

namespace {

std::string FirstLine(const std::string &path)
{
    std::string line;
    if (FILE *f = std::fopen(path.c_str(), "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof buffer, f) != nullptr)
            line = buffer;
        std::fclose(f);
    }
    return line;
}

// The first process whose name (comm) begins with the given one (wineserver is wineserver64 on
// some systems), or 0.
int FindProcessNamed(const char *name)
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return 0;
    int found = 0;
    while (const dirent *entry = readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid > 0 && FirstLine("/proc/" + std::to_string(pid) + "/comm").rfind(name, 0) == 0) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

// Nanoseconds the process has spent on a processor (first field of schedstat).
double CpuSeconds(int pid)
{
    return pid == 0 ? 0.0 : std::strtod(FirstLine("/proc/" + std::to_string(pid) + "/schedstat").c_str(), nullptr) / 1e9;
}

double WallSeconds() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

} // namespace

int MeasureUnderWine(const std::string &windowsBuild, const PoseRun &run)
{
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", run.hz);
    const char *pacing = run.pacing == sim::Pacing::Irregular ? "irregular" : run.pacing == sim::Pacing::Paused ? "paused" : "steady";
    const std::string command = "'" + windowsBuild + "/wine-run.sh' '" + windowsBuild + "/bench-wine/vrserver.exe' " +
                                (run.fixedPace ? "fixed " : "frames ") + rate + " " + pacing + " " +
                                std::to_string(run.seconds);
    FILE *child = popen(command.c_str(), "r");
    if (child == nullptr)
        return 1;
    char line[256];
    int relay = 0;
    int server = 0;
    double relayCpu0 = 0, serverCpu0 = 0, wall0 = 0;
    PoseFigures f;
    unsigned long long passes = 0, frames = 0, reused = 0;
    double seconds = 0, age = 0;
    bool measured = false;
    while (std::fgets(line, sizeof line, child) != nullptr) {
        if (std::strncmp(line, "RELAY", 5) == 0) {
            relay = FindProcessNamed("vistrel.exe");
            server = FindProcessNamed("wineserver");
            relayCpu0 = CpuSeconds(relay);
            serverCpu0 = CpuSeconds(server);
            wall0 = WallSeconds();
        } else if (std::sscanf(line, "AGE %lf", &age) == 1) {
            f.agesUs.push_back(age);
        } else if (std::sscanf(line, "PASSES %llu %lf %llu %llu", &passes, &seconds, &frames, &reused) == 4 &&
                   relay != 0) {
            const double wall = WallSeconds() - wall0;
            f.cpuShare = (CpuSeconds(relay) - relayCpu0) / wall;
            f.wineserverShare = (CpuSeconds(server) - serverCpu0) / wall;
            measured = true;
        } else if (std::strncmp(line, "PACING", 6) == 0) {
            f.pacing = line;
        }
    }
    if (pclose(child) != 0 || !measured || seconds <= 0) {
        std::fprintf(stderr, "vistrel.exe could not be measured under Wine\n");
        return 1;
    }
    f.seconds = seconds;
    f.passes = passes;
    f.frames = frames;
    f.reused = reused;
    PoseRows(run, f, true);
    return 0;
}

} // namespace bench
