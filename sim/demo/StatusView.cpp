#include "StatusView.h"

#include <cmath>

namespace demo {

namespace {
constexpr double kDegrees = 180.0 / 3.14159265358979323846;

std::string Pose(const PoseSummary &p)
{
    if (!p.present)
        return "(none yet)";
    char text[160];
    std::snprintf(text, sizeof text, "x %+6.3f y %+6.3f z %+6.3f m   yaw %+7.1f pitch %+6.1f roll %+7.1f",
                  p.position[0], p.position[1], p.position[2], p.yawPitchRoll[0], p.yawPitchRoll[1],
                  p.yawPitchRoll[2]);
    return text;
}

const char *Button(bool pressed) { return pressed ? "[PRESSED]" : "[       ]"; }
} // namespace

void QuaternionToYawPitchRoll(double w, double x, double y, double z, double out[3])
{
    out[0] = std::atan2(2.0 * (w * y + x * z), 1.0 - 2.0 * (x * x + y * y)) * kDegrees;
    const double s = 2.0 * (w * x - y * z);
    out[1] = std::asin(s > 1.0 ? 1.0 : (s < -1.0 ? -1.0 : s)) * kDegrees;
    out[2] = std::atan2(2.0 * (w * z + x * y), 1.0 - 2.0 * (x * x + z * z)) * kDegrees;
}

StatusView::StatusView(std::FILE *out, bool live, size_t logLines) : out_(out), live_(live), logLines_(logLines) {}

void StatusView::AddLog(const std::string &line)
{
    if (!live_) {
        std::fprintf(out_, "driver log: %s\n", line.c_str());
        std::fflush(out_);
        return;
    }
    log_.push_back(line);
    while (log_.size() > logLines_)
        log_.pop_front();
}

void StatusView::AddNote(const std::string &line)
{
    if (!live_) {
        std::fprintf(out_, "demo: %s\n", line.c_str());
        std::fflush(out_);
        return;
    }
    AddLog("-- " + line);
}

void StatusView::Show(const Status &status)
{
    if (live_) {
        Draw(status);
        return;
    }
    if (status.linkState != lastLink_) {
        std::fprintf(out_, "link: %s\n", status.linkState.c_str());
        lastLink_ = status.linkState;
    }
    std::fflush(out_);
}

void StatusView::Draw(const Status &s)
{
    // Home the cursor and clear below: one redraw without scrolling.
    std::fprintf(out_, "%s\033[H\033[J", drawn_ ? "" : "\033[2J");
    drawn_ = true;
    std::fprintf(out_, "Tarvolt RQ508 in the simulated SteamVR server    frame %llu, %.0f fps, vistrel passes %llu\n",
                 static_cast<unsigned long long>(s.frames), s.framesPerSecond,
                 static_cast<unsigned long long>(s.relayPasses));
    std::fprintf(out_, "script: %s\n\n", s.step.c_str());
    std::fprintf(out_, "Bluetooth link: %s\n\n", s.linkState.c_str());
    std::fprintf(out_, "  /input/fire/value          %.1f\n", s.fireValue);
    std::fprintf(out_, "  /input/fire/click          %s\n", Button(s.fireClick));
    std::fprintf(out_, "  /input/eject_mag/click     %s\n", Button(s.ejectMag));
    std::fprintf(out_, "  /input/load_mag/click      %s\n", Button(s.loadMag));
    std::fprintf(out_, "  /input/load_bullet/click   %s\n", Button(s.loadBullet));
    std::fprintf(out_, "  /input/unload_bullet/click %s\n\n", Button(s.unloadBullet));
    std::fprintf(out_, "controller (right hand): %s\n", Pose(s.controller).c_str());
    std::fprintf(out_, "rifle (as apps see it):  %s\n\n", Pose(s.rifle).c_str());
    std::fprintf(out_, "driver log:\n");
    for (const std::string &line : log_)
        std::fprintf(out_, "  %s\n", line.c_str());
    std::fflush(out_);
}

void StatusView::Finish()
{
    if (live_)
        std::fprintf(out_, "\n");
    std::fflush(out_);
}

} // namespace demo
