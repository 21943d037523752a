#include "PassPacer.h"

namespace tarvolt {

PassPacer::PassPacer(PassTimer &timer, PassClockTime period) : timer_(timer), period_(period), deadline_(timer.Now()) {}

void PassPacer::WaitForNextPass()
{
    const PassClockTime next = deadline_ + period_;
    const PassClockTime now = timer_.Now();
    if (next <= now) {
        deadline_ = now;
        return;
    }
    timer_.WaitUntil(next);
    deadline_ = next;
}

} // namespace tarvolt
