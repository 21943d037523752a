// A second process on the shared pose block, as the relay program is one: it opens the block by
// name and, directed line by line on its standard input, writes records under the pose lock or
// holds the lock. Every command is answered with one line on standard output, so the test knows
// exactly when the lock is held or free without sleeping.
//   open                      open and map the block             -> ok | fail
//   write <result> <x> <y> <z> take the lock, write an identity pose at (x, y, z), release -> ok
//   hold                      take the lock and keep it          -> held
//   put <result> <x> <y> <z>  write a record while holding it    -> ok
//   release                   free the lock                      -> released
//   quit                      unmap, close, exit 0
#include "SharedPose.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

void PutRecord(tarvolt::SharedPose &block, int result, float x, float y, float z)
{
    vr::TrackedDevicePose_t record;
    std::memset(&record, 0, sizeof record);
    for (int i = 0; i < 3; ++i)
        record.mDeviceToAbsoluteTracking.m[i][i] = 1.0f;
    record.mDeviceToAbsoluteTracking.m[0][3] = x;
    record.mDeviceToAbsoluteTracking.m[1][3] = y;
    record.mDeviceToAbsoluteTracking.m[2][3] = z;
    record.eTrackingResult = static_cast<vr::ETrackingResult>(result);
    record.bPoseIsValid = true;
    record.bDeviceIsConnected = true;
    std::memcpy(&block.pose, &record, sizeof record);
}

void Answer(const char *text)
{
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main()
{
    tarvolt::PoseBlockHandle mapping = nullptr;
    tarvolt::SharedPose *block = nullptr;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        int result = 0;
        float x = 0, y = 0, z = 0;
        if (command == "open") {
            mapping = tarvolt::OpenPoseBlockMapping();
            block = static_cast<tarvolt::SharedPose *>(tarvolt::MapPoseBlock(mapping));
            Answer(block != nullptr ? "ok" : "fail");
        } else if (command == "write" && block != nullptr && (words >> result >> x >> y >> z)) {
            tarvolt::AcquirePoseLock(block->lock);
            PutRecord(*block, result, x, y, z);
            tarvolt::ReleasePoseLock(block->lock);
            Answer("ok");
        } else if (command == "hold" && block != nullptr) {
            tarvolt::AcquirePoseLock(block->lock);
            Answer("held");
        } else if (command == "put" && block != nullptr && (words >> result >> x >> y >> z)) {
            PutRecord(*block, result, x, y, z);
            Answer("ok");
        } else if (command == "release" && block != nullptr) {
            tarvolt::ReleasePoseLock(block->lock);
            Answer("released");
        } else if (command == "quit") {
            break;
        } else {
            Answer("error");
        }
    }
    if (block != nullptr)
        tarvolt::UnmapPoseBlock(block);
    if (mapping != nullptr)
        tarvolt::ClosePoseBlockMapping(mapping);
    return 0;
}
