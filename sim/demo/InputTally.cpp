#include "InputTally.h"

namespace demo {

namespace {
int Count(const std::map<std::string, int> &counts, const std::string &name)
{
    const auto it = counts.find(name);
    return it == counts.end() ? 0 : it->second;
}
} // namespace

int InputTally::Presses(const std::string &name) const { return Count(presses, name); }
int InputTally::Releases(const std::string &name) const { return Count(releases, name); }

int InputTally::AllPresses() const
{
    int n = 0;
    for (const char *button : kButtons)
        n += Presses(button);
    return n;
}

InputTally TallyInputs(const std::vector<sim::ComponentUpdate> &updates)
{
    InputTally tally;
    for (const sim::ComponentUpdate &u : updates) {
        if (u.kind == sim::ComponentKind::Scalar) {
            if (u.name == kFireValue)
                tally.fireValue = u.scalarValue;
            continue;
        }
        tally.pressed[u.name] = u.boolValue;
        if (u.boolValue) {
            ++tally.presses[u.name];
            tally.lastPressFrame[u.name] = u.frame;
        } else {
            ++tally.releases[u.name];
            tally.lastReleaseFrame[u.name] = u.frame;
        }
    }
    return tally;
}

} // namespace demo
