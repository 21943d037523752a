#pragma once
// How a test or the demo scripts the simulated radio: peripherals that advertise, accept or
// refuse a connection, offer services and characteristics, answer each query with a chosen
// status or raised error, notify bytes and drop the link. Events reach the driver's handlers on
// the radio's own thread, as the platform's do.
//
// In-process tests reach it through sim::SimRadioControl(); a driver library built with the
// simulated radio exports it as TarvoltSimRadio (kSimRadioExport).
#include "bluetooth/Radio.h"

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

using tarvolt::radio::CommunicationStatus;
using tarvolt::radio::Guid;
using tarvolt::radio::RadioCheck;
using tarvolt::radio::Readiness;
using tarvolt::radio::ResultCode;

inline constexpr const char *kSimRadioExport = "TarvoltSimRadio";

// How the platform answers one query: a status, or (error != 0) a raised error; for the first
// `times` queries only, after which it answers Success (-1: every query).
// The first query of a link often answers Unreachable, and then succeeds (bleak issue 60, PR 1900).
struct Outcome {
    CommunicationStatus status = CommunicationStatus::Success;
    ResultCode error = 0;
    int times = -1;
};

struct CharacteristicScript {
    Guid uuid;
    Outcome subscribe;  // the descriptor write
    // Missing from cached answers until an uncached query has read it from the device
    // (btleplug PR 247: GetCharacteristicsAsync answers from a system-wide cache).
    bool uncachedOnly = false;
};

struct ServiceScript {
    Guid uuid;
    Outcome query;  // the characteristics query
    std::vector<CharacteristicScript> characteristics;
    bool uncachedOnly = false;  // as CharacteristicScript::uncachedOnly, for the services query
};

struct PeripheralScript {
    std::u16string name;  // advertised local name; empty advertises none
    // The device's own (GAP) name, which the system reports as its name once it has read it
    // (empty: the advertised name).
    std::u16string gapName;
    uint64_t address = 0;
    int16_t rssi = -60;            // signal strength of its advertisements, in dBm
    bool advertising = true;       // repeatedly, while a watcher is started
    bool connectable = true;       // false: the platform has no device for the address
    ResultCode connectError = 0;   // raised by the device lookup
    Outcome servicesQuery;
    std::vector<ServiceScript> services;
    bool disconnectOnClose = false;  // closing a device reports it disconnected
    // A connected peripheral stops advertising until its link is down again (Punch Through, "The
    // Ultimate Guide to Managing Your BLE Connection": advertising ends when a central connects).
    bool advertisesWhileConnected = false;
    // Closing a device leaves the link up this long once nobody else holds it (Microsoft Learn,
    // BluetoothLEDevice.Close: "may close the connection ... if this is the only app"; bleak
    // issue 807: the disconnection comes seconds later).
    std::chrono::milliseconds closeHold{5000};
    // Connected, with nobody holding it, when the radio learns of it: left so by a session that
    // ended without closing (the process crashed); the link ends `closeHold` later.
    bool connectedAtStart = false;
    // How long after a drop the system restores a link that someone maintains, once the
    // peripheral can be reached (Microsoft Learn, GattSession.MaintainConnection: "the system
    // waits indefinitely for a connection, and it will connect when the device is available").
    std::chrono::milliseconds restoreDelay{1000};
};

// The rifle as it is built: a battery service, then service 0xFFF0 with a writable
// characteristic before the notifying one, 0xFFF1 (both on the Bluetooth base UUID).
inline constexpr Guid kBatteryUuid = {0x0000180F, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
inline constexpr Guid kRifleServiceUuid = {0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
inline constexpr Guid kRifleWriteUuid = {0x0000FFF2, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
inline constexpr Guid kRifleNotifyUuid = {0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

inline PeripheralScript RifleScript(uint64_t address)
{
    PeripheralScript rifle;
    rifle.name = u"Rifle Q508";
    rifle.address = address;
    rifle.services = {
        {kBatteryUuid, {}, {{kBatteryUuid, {}}}},
        {kRifleServiceUuid, {}, {{kRifleWriteUuid, {}}, {kRifleNotifyUuid, {}}}},
    };
    return rifle;
}

// Platform waits that a test can hold open until it releases them. StatusRead holds a caller
// just after it has read a device's connection status, as if it were preempted there. Calls on
// the radio's own thread (the handlers') are never held.
enum class Step { Connect, Services, Characteristics, Subscribe, StatusRead };

// The errors a Stopped event carries (BluetoothError).
using tarvolt::radio::WatcherStatus;
// ERROR_DEVICE_NOT_AVAILABLE as an HRESULT: what Start raises with the adapter disabled.
inline constexpr ResultCode kDeviceNotAvailable = static_cast<ResultCode>(0x800710DFu);

// How a watcher fails, besides the ways of the radio as a whole.
enum class WatcherFault {
    None,
    StartThrows,        // Start raises kDeviceNotAvailable (WindowsAppSDK issue 3503)
    StaysCreated,       // Start returns, the status stays Created, nothing comes (bleak PR 1148)
    Silent,             // Started, and hears nothing (windows-dev-docs issue 812)
    EndsWithoutStopped, // ended by the platform (EndScan) without a Stopped event (bleak PR 1148)
};
inline constexpr int32_t kStopSuccess = 0;
inline constexpr int32_t kStopRadioNotAvailable = 1;
inline constexpr int32_t kStopOtherError = 4;

struct RadioStats {
    int watchersCreated = 0;
    int starts = 0;
    int stops = 0;
    int closes = 0;
    int scanning = 0;          // watchers started and not stopped
    int activeScanning = 0;    // watchers set to active scanning
    int attachedHandlers = 0;  // handlers still attached to objects of the radio that are alive
    int devicesHeld = 0;       // device objects that someone still holds
    int serviceCloses = 0;     // Close calls on services
    int maintained = 0;        // devices held with MaintainConnection on
    int notifying = 0;         // characteristics held with notifications on
    int lowLatencyRequests = 0;
    std::vector<ResultCode> handlerFailures;  // every non-zero result a handler returned
};

class RadioControl {
public:
    // Returns the peripheral's id for the calls below.
    virtual int AddPeripheral(const PeripheralScript &script) = 0;
    // The machine's Bluetooth as a whole: without an adapter, switched off, without the
    // platform's Bluetooth service, without the Windows Runtime's classes. Each fails the
    // platform's calls the way that platform does.
    virtual void SetReadiness(Readiness readiness) = 0;
    virtual void SetAdvertising(int peripheral, bool advertising) = 0;
    virtual void SetAdvertiseInterval(std::chrono::milliseconds interval) = 0;
    // Notifies the bytes on every characteristic of the peripheral with notifications enabled.
    virtual void Notify(int peripheral, const std::vector<uint8_t> &bytes) = 0;
    // A notification whose buffer the platform fails to read.
    virtual void NotifyFailing(int peripheral, ResultCode error) = 0;
    // The link is lost: every open device of the peripheral reports itself disconnected.
    virtual void Drop(int peripheral) = 0;
    // The platform ends every running scan by itself (aborted, with an error).
    virtual void EndScan() = 0;
    // The PC's Bluetooth radio goes away (switched off, unplugged) or comes back. While it is
    // away, running scans end as aborted with RadioNotAvailable, and so does every scan started;
    // every open device reports itself disconnected; GATT queries answer Unreachable, nothing is
    // notified and no device is found. Its return restarts nothing: scans stay ended until started.
    virtual void SetRadioAvailable(bool available) = 0;
    virtual void Hold(int peripheral, Step step) = 0;
    virtual bool WaitUntilHeld(int peripheral, Step step, std::chrono::milliseconds limit) = 0;
    virtual void Release(int peripheral, Step step) = 0;
    // Holds back every event and advertisement until resumed, to order them after a step.
    virtual void PauseEvents() = 0;
    virtual void ResumeEvents() = 0;
    // Waits until every event raised so far has been delivered.
    virtual bool WaitUntilIdle(std::chrono::milliseconds limit) = 0;
    virtual RadioStats Stats() = 0;
    // Compresses time for long runs: the simulation's clock (the driver's clock in a build with
    // the simulated radio) runs factor times as fast, so the driver's pauses take 1/factor of
    // their time, and peripherals advertise factor times as often (1: real time).
    virtual void CompressTime(uint32_t factor) = 0;

    // Behaviours of real radios that not every stand-in plays (the fake bluetoothd has its own
    // counterparts or none); a stand-in without one fails the call.
    //
    // Another program opens the device and keeps its link up (connecting it if the peripheral can
    // be reached) and has it restored after a drop; or lets it go.
    virtual void SetOtherHolder(int peripheral, bool holds);
    // The link is lost, and the devices' status reads Disconnected, but no ConnectionStatusChanged
    // comes (an event missed, or one the platform never raised).
    virtual void DropWithoutEvent(int peripheral);
    // The next `count` watchers created (-1: every one until changed) fail so.
    virtual void SetWatcherFault(WatcherFault fault, int count);

    // Ends the radio's event thread at once and drops the events not yet delivered; a test that
    // keeps the radio (linked into the test program) across runs calls it to start afresh. The
    // thread otherwise ends by itself when it has nothing left to do.
    virtual void Shutdown() = 0;

protected:
    ~RadioControl() = default;
};

inline void RadioControl::SetOtherHolder(int, bool) { throw std::logic_error("not played by this stand-in"); }
inline void RadioControl::DropWithoutEvent(int) { throw std::logic_error("not played by this stand-in"); }
inline void RadioControl::SetWatcherFault(WatcherFault, int) { throw std::logic_error("not played by this stand-in"); }

// The type of the export kSimRadioExport.
using SimRadioEntry = RadioControl *(*)();

// The simulated radio of this program (in-process tests).
RadioControl &SimRadioControl();

} // namespace sim
