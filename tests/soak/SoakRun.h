#pragma once
// Hours of play, compressed: the driver built with the simulated radio is loaded into the
// simulated server again and again; within each load its device is activated and deactivated,
// and within each activation the rifle's link is dropped and restored with a notification after
// every reconnection, while the real vistrel relays the right hand's pose. Relays are killed at
// random moments (as it starts, while it relays, and while it holds the pose lock), the runtime
// now and then activates twice without deactivating, or cleans up without deactivating. After
// every load, with the library unloaded, the process's counts are taken. The driver starts a
// relay again after each end; where the run waits for that, it also checks that the killed relay
// was collected (no zombie) and that the new one writes its pose (no stale pose lock). In the last
// load's first activation the relay is ended many times in a row (killed, killed holding the pose
// lock, crashed, exited), so that the driver's pause before the next start grows to its bound and,
// after a relay that ran a minute, comes back to its first.
//
// Time is compressed where it is the simulation's: frames run at about 1 kHz instead of 90 Hz, the
// radio advertises and the driver's Bluetooth worker pauses `compression` times faster. The driver
// library, its radio's code and vistrel are the built ones.
#include "SoakProcess.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {
class TrackedDevicePublisher;
}

namespace soak {

struct Plan {
    int loads = 200;            // whole loads: factory, Init, the cycles, Cleanup, unload
    int cyclesPerLoad = 5;      // activations within one load, each ended by Deactivate
    int dropsPerCycle = 10;     // link drops within one activation, a notification after each
    int kills = 500;            // relays killed, spread evenly over the cycles
    int restarts = 100;         // relays ended in a row in one activation, each started again
    uint32_t compression = 50;  // the worker's pauses and the radio's advertising, this much faster
    uint32_t seed = 1;
    int Cycles() const { return loads * cyclesPerLoad; }
};

// make soak's run: 10,000 drops, 1,000 activations, 200 loads, 500 relays killed, 100 ended in a row.
Plan LongPlan();
// make test's: a few hundred drops and dozens of cycles, under a minute natively (fewer under
// Wine, about a minute).
Plan ShortPlan();

struct Totals {
    int loads = 0;
    int cycles = 0;
    int drops = 0;                // each followed by a reconnection
    int notifications = 0;        // each turned into a press and its release
    int posesRelayed = 0;         // activations in which the relay's pose reached the runtime
    int killsAtStart = 0;         // while the relay was starting
    int killsWhileRelaying = 0;   // between two drops, at a random pass
    int killsHoldingLock = 0;     // stopped inside its copy under the pose lock, and killed there
    int holdingNotCaught = 0;     // of the kills meant to hit the lock, those that missed it
    int restartsSeen = 0;         // ends after which the run saw the relay collected, started again and writing
    int restartsAfterAMinute = 0;  // of the ends in a row, those of a relay that had run a minute
    int secondActivations = 0;    // Activate without a Deactivate before it
    int cleanupsWithoutDeactivate = 0;
    uint64_t frames = 0;
    double longestFrameMs = 0;      // the pose lock free or held by a live relay
    double longestFrameDeadMs = 0;  // the lock held by a relay that was killed holding it
    double seconds = 0;
};

struct Sample {
    int cyclesDone;
    Counts counts;
};

class SoakRun {
public:
    explicit SoakRun(const Plan &plan);
    // Runs the plan in this process, which must carry the runtime server's name (vistrel follows
    // the server that started it). False with the step that did not happen in time, or a relay
    // that outlived its deactivation.
    bool Run(std::string &error);

    const Plan &GetPlan() const { return plan_; }
    const Totals &GetTotals() const { return totals_; }
    // Before the first load (the server's device table published), then after every load.
    const Counts &Before() const { return before_; }
    const std::vector<Sample> &Samples() const { return samples_; }
    // After the server ended: nothing of the driver or a relay may be left.
    const Counts &AfterServerEnd() const { return afterEnd_; }

private:
    struct Load;
    bool RunLoad(int load, std::string &error);
    bool RunCycle(Load &l, bool cleanupInstead, std::string &error);
    bool DropsAndNotifications(Load &l, int killAt, int64_t relay, std::string &error);
    // After `ended` has ended: frames until it is collected, exactly one other relay runs, and a
    // pose it wrote is published; false after the step's time limit.
    bool AwaitRestart(Load &l, int64_t ended, std::string &error);
    // The relay ended plan_.restarts times in a row.
    bool EndInARow(Load &l, std::string &error);

    Plan plan_;
    Totals totals_;
    Counts before_;
    Counts afterEnd_;
    std::vector<Sample> samples_;
    std::mt19937 random_;
    sim::TrackedDevicePublisher *devices_ = nullptr;  // the server's, while Run runs
};

} // namespace soak
