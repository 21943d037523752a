#pragma once
// What the probe hears of the link: its lines, its states and the rifle's notifications, turned
// into the report's events and counted for the verdict. One for the program's life, since a
// platform thread may still report after a run has ended; between runs it reports nowhere.
#include "Report.h"
#include "bluetooth/LinkObserver.h"

#include <mutex>

namespace tarvolt::probe {

// The name of the action a notification stands for: the input event flag it set, or none.
std::string ActionName(const std::atomic<bool> *flag);

class ProbeObserver final : public LinkObserver {
public:
    static ProbeObserver &Instance();

    struct Tally {
        bool found = false;   // the worker had the rifle's address to connect to
        int connections = 0;  // times the link reached Connected
        int actions = 0;      // notifications of the rifle, recognised or not
        int unknown = 0;      // of which not one of its messages
    };

    // Reports into `report` from now on, with a fresh tally; null reports nowhere.
    void Attach(Report *report);
    Tally Taken();

    void Line(const char *text) override;
    void Notified(const uint8_t *bytes, size_t length, const std::atomic<bool> *flag) override;
    void StateSeen(LinkState state, uint64_t targetAddress) override;

private:
    std::mutex mutex_;
    Report *report_ = nullptr;
    Tally tally_;
};

} // namespace tarvolt::probe
