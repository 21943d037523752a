#pragma once
// The Bluetooth worker: the one thread that scans for the rifle, connects, subscribes to its
// notifications and recovers from a lost link. Started by ControllerDriver::Activate, ended by
// clearing runFlag and joining it.

namespace tarvolt {

void BluetoothWorkerMain();

} // namespace tarvolt
