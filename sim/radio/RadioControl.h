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
#include <string>
#include <vector>

namespace sim {

using tarvolt::radio::CommunicationStatus;
using tarvolt::radio::Guid;
using tarvolt::radio::RadioCheck;
using tarvolt::radio::Readiness;
using tarvolt::radio::ResultCode;

inline constexpr const char *kSimRadioExport = "TarvoltSimRadio";

// How the platform answers one query: a status, or (error != 0) a raised error.
struct Outcome {
    CommunicationStatus status = CommunicationStatus::Success;
    ResultCode error = 0;
};

struct CharacteristicScript {
    Guid uuid;
    Outcome subscribe;  // the descriptor write
};

struct ServiceScript {
    Guid uuid;
    Outcome query;  // the characteristics query
    std::vector<CharacteristicScript> characteristics;
};

struct PeripheralScript {
    std::u16string name;  // advertised local name; empty advertises none
    uint64_t address = 0;
    int16_t rssi = -60;            // signal strength of its advertisements, in dBm
    bool advertising = true;       // repeatedly, while a watcher is started
    bool connectable = true;       // false: the platform has no device for the address
    ResultCode connectError = 0;   // raised by the device lookup
    Outcome servicesQuery;
    std::vector<ServiceScript> services;
    bool disconnectOnClose = false;  // closing a device reports it disconnected
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
    // Ends the radio's event thread at once and drops the events not yet delivered; a test that
    // keeps the radio (linked into the test program) across runs calls it to start afresh. The
    // thread otherwise ends by itself when it has nothing left to do.
    virtual void Shutdown() = 0;

protected:
    ~RadioControl() = default;
};

// The type of the export kSimRadioExport.
using SimRadioEntry = RadioControl *(*)();

// The simulated radio of this program (in-process tests).
RadioControl &SimRadioControl();

} // namespace sim
