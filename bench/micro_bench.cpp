// Timings of the driver's hot paths, in this process with the minimal runtime context: the pose
// conversion, the frame update in its three typical shapes, the notification handler and the
// uncontended pose lock. Each case is repeated and its median reported; the table rows go to
// standard output after Google Benchmark's own report, as "ROW<tab>label<tab>value".
#include "BenchContext.h"
#include "ConvertPose.h"
#include "FrameFixture.h"
#include "bluetooth/Notification.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// A notification's bytes, read as the platform's data reader reads them.
class BytesArgs final : public tarvolt::radio::ValueChangedArgs {
public:
    explicit BytesArgs(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint32_t UnconsumedBufferLength() override { return static_cast<uint32_t>(bytes_.size()); }
    void ReadBytes(uint8_t *destination, uint32_t count) override
    {
        for (uint32_t i = 0; i < count; ++i)
            destination[i] = bytes_[i];
    }

private:
    std::vector<uint8_t> bytes_;
};

// The handler never looks at its sender.
class NoCharacteristic final : public tarvolt::radio::Characteristic {
public:
    tarvolt::radio::Guid Uuid() override { return {}; }
    tarvolt::radio::EventToken AddValueChanged(ValueChangedHandler) override { return 0; }
    void RemoveValueChanged(tarvolt::radio::EventToken) override {}
    tarvolt::radio::CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(
        tarvolt::radio::CccdValue) override
    {
        return tarvolt::radio::CommunicationStatus::Success;
    }
};

void ConvertPoseCase(benchmark::State &state)
{
    vr::TrackedDevicePose_t in = bench::SamplePose();
    for (auto _ : state) {
        benchmark::DoNotOptimize(in);
        vr::DriverPose_t out = tarvolt::ConvertPose(in);
        benchmark::DoNotOptimize(out);
    }
}

void UpdateFrameIdle(benchmark::State &state)
{
    bench::FrameFixture f;
    for (auto _ : state)
        f.controller.UpdateFrame();
    benchmark::DoNotOptimize(f.context.lastPoseW);
}

// Includes setting the flag and resetting the pulse, a few nanoseconds of the figure.
void UpdateFrameOneEvent(benchmark::State &state)
{
    bench::FrameFixture f;
    for (auto _ : state) {
        tarvolt::fire.store(true, std::memory_order_relaxed);
        f.controller.firePulse = {};
        f.controller.UpdateFrame();
    }
}

void UpdateFrameFivePulsesEnding(benchmark::State &state)
{
    bench::FrameFixture f;
    for (auto _ : state) {
        bench::ArmFivePulsesEnding(f.controller);
        f.controller.UpdateFrame();
    }
}

void NotificationCase(benchmark::State &state, std::vector<uint8_t> bytes)
{
    bench::BenchContext context;
    context.Install();
    NoCharacteristic sender;
    BytesArgs args(std::move(bytes));
    for (auto _ : state)
        benchmark::DoNotOptimize(tarvolt::OnNotification(sender, args));
    tarvolt::fire.store(false);
}

void PoseLockCase(benchmark::State &state)
{
    tarvolt::SharedPose block{};
    for (auto _ : state) {
        tarvolt::AcquirePoseLock(block.lock);
        tarvolt::ReleasePoseLock(block.lock);
    }
}

const std::map<std::string, std::string> kLabels = {
    {"ConvertPose", "ConvertPose (ns/call)"},
    {"UpdateFrame/idle", "UpdateFrame, no pending events (ns/call)"},
    {"UpdateFrame/one_event", "UpdateFrame, one event starting a pulse (ns/call)"},
    {"UpdateFrame/five_pulses_ending", "UpdateFrame, five pulses ending together (ns/call)"},
    {"Notification/fire_6_bytes", "Notification handler, recognised 6-byte message (ns/call)"},
    {"Notification/unrecognised_20_bytes", "Notification handler, unrecognised 20-byte message (ns/call)"},
    {"PoseLock/uncontended", "AcquirePoseLock + ReleasePoseLock, uncontended (ns/pair)"},
};

// Google Benchmark's console report, plus one table row per case from its median repetition.
class RowReporter final : public benchmark::ConsoleReporter {
public:
    // Plain text: the rows are picked out of this program's output by their first word.
    RowReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            auto label = kLabels.find(run.run_name.function_name);
            if (label != kLabels.end())
                rows_.push_back({label->second, run.GetAdjustedRealTime()});
        }
    }
    void PrintRows() const
    {
        for (const auto &row : rows_)
            std::printf("ROW\t%s\t%.1f\n", row.first.c_str(), row.second);
    }

private:
    std::vector<std::pair<std::string, double>> rows_;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::RegisterBenchmark("ConvertPose", ConvertPoseCase);
    benchmark::RegisterBenchmark("UpdateFrame/idle", UpdateFrameIdle);
    benchmark::RegisterBenchmark("UpdateFrame/one_event", UpdateFrameOneEvent);
    benchmark::RegisterBenchmark("UpdateFrame/five_pulses_ending", UpdateFrameFivePulsesEnding);
    benchmark::RegisterBenchmark("Notification/fire_6_bytes", NotificationCase,
                                 std::vector<uint8_t>{0x5B, 0x12, 0x34, 0x56, 0x78, 0x5D});
    benchmark::RegisterBenchmark("Notification/unrecognised_20_bytes", NotificationCase,
                                 std::vector<uint8_t>{0x01, 0x17, 0x2A, 0x5B, 0x5C, 0x5D, 0x60, 0x61, 0x7F, 0x80,
                                                      0x99, 0xA0, 0xB5, 0xC8, 0xD3, 0xE1, 0xEE, 0xF0, 0xFE, 0xFF});
    benchmark::RegisterBenchmark("PoseLock/uncontended", PoseLockCase);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RowReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRows();
    benchmark::Shutdown();
    return 0;
}
