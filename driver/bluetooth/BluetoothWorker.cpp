#include "BluetoothWorker.h"

#include "../DriverLog.h"
#include "../DriverState.h"

#include <chrono>
#include <thread>

namespace tarvolt {

namespace {
constexpr int kPollIntervalMs = 500;
}

void BluetoothWorkerMain()
{
    Log("Tarvolt Running");
    while (runFlag.load(std::memory_order_acquire))
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
}

} // namespace tarvolt
