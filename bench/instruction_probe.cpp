// Runs one hot path a given number of times with Callgrind's collection switched on only around
// those calls (run it under valgrind --tool=callgrind --collect-atstart=no): the instruction
// count divided by the number of calls is the cost of one call, the same from run to run.
//   instruction_probe update_frame <calls>   one frame update with no pending events
//   instruction_probe frame_clock <calls>    the frame update's stamp of the frame clock alone
//   instruction_probe convert_pose <calls>
#include "ConvertPose.h"
#include "FrameFixture.h"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Calls before collection starts: the interface accessors fetch and cache on first use.
constexpr int kWarmUpCalls = 100;

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s update_frame|frame_clock|convert_pose <calls>\n", argv[0]);
        return 2;
    }
    const long calls = std::strtol(argv[2], nullptr, 10);
    if (std::strcmp(argv[1], "update_frame") == 0) {
        bench::FrameFixture f;
        for (int i = 0; i < kWarmUpCalls; ++i)
            f.controller.UpdateFrame();
        CALLGRIND_TOGGLE_COLLECT;
        for (long i = 0; i < calls; ++i)
            f.controller.UpdateFrame();
        CALLGRIND_TOGGLE_COLLECT;
        return f.context.poseUpdates == static_cast<uint64_t>(calls + kWarmUpCalls) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "frame_clock") == 0) {
        // As the frame update stamps it: the monotonic clock read, then the stamp.
        bench::FrameFixture f;
        tarvolt::FrameClock &clock = tarvolt::FrameClockOf(f.block);
        tarvolt::FrameClockWriter writer;
        for (int i = 0; i < kWarmUpCalls; ++i)
            writer.Stamp(clock, tarvolt::MonotonicTicks());
        CALLGRIND_TOGGLE_COLLECT;
        for (long i = 0; i < calls; ++i)
            writer.Stamp(clock, tarvolt::MonotonicTicks());
        CALLGRIND_TOGGLE_COLLECT;
        return clock.sequence.load() == 2u * static_cast<uint32_t>(calls + kWarmUpCalls) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "convert_pose") == 0) {
        const vr::TrackedDevicePose_t in = bench::SamplePose();
        volatile double sink = 0.0;
        for (int i = 0; i < kWarmUpCalls; ++i)
            sink = sink + tarvolt::ConvertPose(in).qRotation.w;
        CALLGRIND_TOGGLE_COLLECT;
        for (long i = 0; i < calls; ++i)
            sink = sink + tarvolt::ConvertPose(in).qRotation.w;
        CALLGRIND_TOGGLE_COLLECT;
        return 0;
    }
    std::fprintf(stderr, "unknown case %s\n", argv[1]);
    return 2;
}
