// vistrel's own program with its pace chosen for make bench, so that one run measures the earlier
// fixed pace and the frame pace side by side with the same code: TARVOLT_BENCH_PACE=fixed makes
// 1,000 passes a second whatever the frames do, anything else one pass per frame. When the pose
// loop ends (the server's quit request), the pacing's figures are appended to the file that
// TARVOLT_BENCH_REPORT names, as one line:
//   PACING <margin ns> <passes following the frames> <passes on the grid> <records taken twice, as counted>
// Only for measuring (make bench); never shipped.
#include "Relay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Report(const tarvolt::FramePacing &pacing)
{
    const char *path = std::getenv("TARVOLT_BENCH_REPORT");
    if (path == nullptr)
        return;
    if (FILE *file = std::fopen(path, "a")) {
        std::fprintf(file, "PACING %lld %llu %llu %llu\n", static_cast<long long>(pacing.Margin()),
                     static_cast<unsigned long long>(pacing.FramePasses()),
                     static_cast<unsigned long long>(pacing.GridPasses()),
                     static_cast<unsigned long long>(pacing.ReusedRecords()));
        std::fclose(file);
    }
}

} // namespace

int main()
{
    const char *pace = std::getenv("TARVOLT_BENCH_PACE");
    const bool fixed = pace != nullptr && std::strcmp(pace, "fixed") == 0;
    return tarvolt::RunRelay(fixed ? tarvolt::RelayPace::Fixed : tarvolt::RelayPace::Frames, Report);
}
