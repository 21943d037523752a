#pragma once
// Looks after the relay program while the device is active. vistrel may end on its own at any
// time (it found no server yet, it crashed, a task manager or an antivirus ended it); the rifle
// would stay without a pose for the rest of the session. A thread of its own waits on the relay's
// end, so that the end is seen within moments whether frames run or not. It then:
// - logs the end once, with the exit code or signal, and reaps the process (no zombie on POSIX;
//   its handles closed on Windows);
// - takes the block back from the dead relay: the frame update leaves it alone meanwhile and
//   publishes the pose of a block never written (not valid), a pose lock the relay died holding
//   is freed (only the frame update and the relay ever take it, so a set lock is stale now), and
//   the record is cleared, so that the rifle shows as not tracking, rather than frozen where it
//   was, until the restarted relay's first record;
// - starts the relay again after a pause: 1 s, doubling with every end that follows a start
//   within a minute, up to 30 s; back to 1 s once a relay has run for a minute. Restarts are
//   logged, and their lines limited to one a minute while they repeat.
// Its pauses run on the build's clock (PlatformClock). Nothing is started once the stop has been
// requested, and every wait then ends at once.
//
// The same thread logs the faults that the frame update finds in records (the frame thread must
// neither allocate nor block), at most once a second and repeat-limited.
#include "Clock.h"
#include "WellFormedPose.h"

#include <chrono>

namespace tarvolt {

struct SharedPose;

inline constexpr std::chrono::seconds kFirstRestartPause{1};
inline constexpr std::chrono::seconds kLongestRestartPause{30};
inline constexpr std::chrono::seconds kSteadyRelayRun{60};

// The pause before the next start, after the relay started last ran for `ran` (zero: its start
// failed): kFirstRestartPause at first and after a relay that ran kSteadyRelayRun, otherwise the
// last pause (zero: none yet) doubled, up to kLongestRestartPause.
Clock::Duration RestartPause(Clock::Duration last, Clock::Duration ran);

// Starts the thread that looks after the relay that Activate has just started (or failed to
// start: then it tries again after the first pause), and the block it writes (null: none).
void StartRelaySupervision(SharedPose *block);
// From now on nothing is started, and the thread's waits end at once. Deactivate calls it first.
void RequestRelaySupervisionStop();
// Requests the stop and waits for the thread's end. The relay, if one runs, is left for
// StopRelayProcess to end.
void StopRelaySupervision();

// The frame update's side, for the block's record. BeginBlockRead is true when the frame may read
// the block now, and EndBlockRead must then follow the read; false while the relay has ended and
// its block is being taken back (the frame then publishes NeverWrittenRecord's pose instead).
bool BeginBlockRead();
void EndBlockRead();
// Counts a faulty record for the log; wakes the thread at most once until it has logged.
void NoteRecordFault(RecordFault fault);

} // namespace tarvolt
