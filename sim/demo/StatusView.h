#pragma once
// The demo's live status: link state, the six input components, the rifle's pose (as applications
// see it, in standing space) next to the controller's, frames per second, and the driver log
// below. On a terminal the view is redrawn in place; otherwise each change is printed as a plain
// line.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

namespace demo {

struct PoseSummary {
    bool present = false;
    double position[3] = {0, 0, 0};  // metres
    double yawPitchRoll[3] = {0, 0, 0};  // degrees
};

struct Status {
    std::string linkState = "not started";
    bool fireClick = false;
    float fireValue = 0.0f;
    bool ejectMag = false;
    bool loadMag = false;
    bool loadBullet = false;
    bool unloadBullet = false;
    PoseSummary rifle;
    PoseSummary controller;
    double framesPerSecond = 0.0;
    uint64_t frames = 0;
    uint64_t relayPasses = 0;  // vistrel's passes so far
    std::string step;  // what the script is doing now
};

// Yaw, pitch and roll in degrees (yaw about +y, pitch about +x, roll about +z) of a unit
// quaternion, for display.
void QuaternionToYawPitchRoll(double w, double x, double y, double z, double out[3]);

class StatusView {
public:
    StatusView(std::FILE *out, bool live, size_t logLines = 12);
    void AddLog(const std::string &line);
    void AddNote(const std::string &line);  // a line of the script's own, shown among the log
    void Show(const Status &status);       // redraw (live) or print what changed (plain)
    void Finish();
    bool Live() const { return live_; }

private:
    void Draw(const Status &status);
    std::FILE *out_;
    bool live_;
    size_t logLines_;
    std::deque<std::string> log_;
    std::string lastLink_;
    std::string lastStep_;
    bool drawn_ = false;
};

} // namespace demo
