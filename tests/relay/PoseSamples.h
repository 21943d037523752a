#pragma once
// Distinctive pose records for the relay's tests: every field, the padding included, differs from
// pose to pose, so that a partial or mixed-up copy shows.
#include "SharedPose.h"
#include "TrackingSpaces.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

inline vr::TrackedDevicePose_t SamplePose(float seed)
{
    vr::TrackedDevicePose_t pose;
    std::memset(static_cast<void *>(&pose), 0, sizeof pose);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            pose.mDeviceToAbsoluteTracking.m[r][c] = seed + static_cast<float>(r * 4 + c) / 16.0f;
    for (int i = 0; i < 3; ++i) {
        pose.vVelocity.v[i] = -seed - static_cast<float>(i);
        pose.vAngularVelocity.v[i] = seed * 2.0f + static_cast<float>(i);
    }
    pose.eTrackingResult = vr::TrackingResult_Running_OutOfRange;
    pose.bPoseIsValid = false;  // written as delivered, whatever its flags
    pose.bDeviceIsConnected = true;
    return pose;
}

// A standing pose as the runtime answers it in raw tracking space, where the relay reads it: the
// simulated room setup lies between the two spaces.
inline vr::TrackedDevicePose_t InRawSpace(vr::TrackedDevicePose_t pose)
{
    sim::TransformPose(sim::Inverse(sim::RoomSetupStandingFromRaw()), pose);
    return pose;
}

inline bool SameBytes(const vr::TrackedDevicePose_t &a, const vr::TrackedDevicePose_t &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The lines printed since ::testing::internal::CaptureStdout().
inline std::vector<std::string> CapturedLines()
{
    const std::string text = ::testing::internal::GetCapturedStdout();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace testing_support
