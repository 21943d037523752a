// The soak's platform part on Windows (and under Wine): counts from the process's handle count,
// the Tool Help snapshots, the address space and the C runtime's heap; relays ended with
// TerminateProcess, or suspended at random moments until one is caught holding the pose lock.
#include "SoakProcess.h"

#include <windows.h>
#include <winternl.h>
#include <malloc.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace soak {

namespace {

constexpr const char *kRelayFile = "vistrel.exe";
constexpr const char *kBlockName = "Vistrel_SharedMemory_RQ508";
constexpr const wchar_t *kDriverFile = L"driver_tarvolt_rq508.dll";

template <class Visit>
void ForEachProcess(Visit visit)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        visit(entry);
    CloseHandle(snapshot);
}

std::vector<DWORD> ThreadsOf(DWORD pid)
{
    std::vector<DWORD> out;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return out;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == pid)
            out.push_back(entry.th32ThreadID);
    CloseHandle(snapshot);
    return out;
}

// The C runtime's heap, which the driver's allocations come from (it links the same runtime).
int64_t HeapInUse()
{
    int64_t used = 0;
    _HEAPINFO info{};
    info._pentry = nullptr;
    while (_heapwalk(&info) == _HEAPOK)
        if (info._useflag == _USEDENTRY)
            used += static_cast<int64_t>(info._size);
    return used;
}

// The process's handles as the system's handle table lists them. GetProcessHandleCount gives 0
// under Wine, which does not count them for it; the table it does keep.
int64_t HandlesInSystemTable()
{
    constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
    constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    struct Entry {
        ULONG pid;
        BYTE type;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ULONG length = 0;
        const NTSTATUS status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &length);
        if (status == kInfoLengthMismatch && buffer.size() < (size_t{1} << 28)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return 0;
        break;
    }
    ULONG count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    // The entries follow the count, aligned as a pointer.
    const char *first = buffer.data() + sizeof(void *);
    const DWORD self = GetCurrentProcessId();
    int64_t handles = 0;
    for (ULONG i = 0; i < count && first + (i + 1) * sizeof(Entry) <= buffer.data() + buffer.size(); ++i) {
        Entry e;
        std::memcpy(&e, first + i * sizeof(Entry), sizeof e);
        handles += e.pid == self ? 1 : 0;
    }
    return handles;
}

// Distinct views of sections mapped in this process (the pose block's among them; the address
// space tells no section's name).
int64_t MappedViews()
{
    int64_t views = 0;
    void *lastBase = nullptr;
    MEMORY_BASIC_INFORMATION info{};
    for (char *address = nullptr; VirtualQuery(address, &info, sizeof info) == sizeof info;) {
        if (info.Type == MEM_MAPPED && info.AllocationBase != lastBase) {
            ++views;
            lastBase = info.AllocationBase;
        }
        char *next = static_cast<char *>(info.BaseAddress) + info.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return views;
}

} // namespace

Counts TakeCounts()
{
    Counts c;
    PROCESS_MEMORY_COUNTERS memory{};
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        c.residentKb = static_cast<int64_t>(memory.WorkingSetSize / 1024);
    c.heapBytes = HeapInUse();
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles))
        c.descriptors = handles;
    if (c.descriptors == 0)
        c.descriptors = HandlesInSystemTable();
    const DWORD self = GetCurrentProcessId();
    c.threads = static_cast<int64_t>(ThreadsOf(self).size());
    ForEachProcess([&](const PROCESSENTRY32 &p) {
        ++c.processes;
        c.children += p.th32ParentProcessID == self ? 1 : 0;
        c.relays += p.th32ParentProcessID == self && lstrcmpiA(p.szExeFile, kRelayFile) == 0 ? 1 : 0;
    });
    if (HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, kBlockName)) {
        c.sharedMemory = 1;
        CloseHandle(section);
    }
    c.blockViews = MappedViews();
    c.driverLoaded = GetModuleHandleW(kDriverFile) != nullptr ? 1 : 0;
    return c;
}

const char *HeapSource() { return "the C runtime's heap walk (_heapwalk)"; }

bool ResidentMemoryJudged() { return true; }

void MakeHeapFigureExact(char **) {}

std::vector<int64_t> ChildRelays()
{
    std::vector<int64_t> out;
    const DWORD self = GetCurrentProcessId();
    ForEachProcess([&](const PROCESSENTRY32 &p) {
        if (p.th32ParentProcessID == self && lstrcmpiA(p.szExeFile, kRelayFile) == 0)
            out.push_back(p.th32ProcessID);
    });
    return out;
}

bool KillProcess(int64_t pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    // TerminateProcess only starts the end; the wait makes it so.
    const bool killed = TerminateProcess(process, 1) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return killed;
}

bool KillWhileHoldingLock(int64_t pid, const std::atomic<uint8_t> &lock, int tries, uint32_t seed)
{
    std::vector<HANDLE> threads;
    for (DWORD id : ThreadsOf(static_cast<DWORD>(pid)))
        if (HANDLE t = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, id))
            threads.push_back(t);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> runFor(0, 200);  // microseconds between two stops
    bool caught = false;
    for (int i = 0; i < tries && !threads.empty() && !caught; ++i) {
        for (HANDLE t : threads) {
            SuspendThread(t);
            // Suspending another process's thread completes asynchronously; reading its context
            // waits until it has.
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            GetThreadContext(t, &context);
        }
        if (lock.load() != 0) {
            caught = KillProcess(pid);
            break;
        }
        for (HANDLE t : threads)
            ResumeThread(t);
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(runFor(random));
        while (std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }
    for (HANDLE t : threads)
        CloseHandle(t);
    return caught;
}

std::string DescribeMachine()
{
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    std::string text = std::to_string(system.dwNumberOfProcessors) + " cores usable";
    using WineVersion = const char *(*)();
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll"))
        if (auto version = reinterpret_cast<WineVersion>(reinterpret_cast<void *>(GetProcAddress(ntdll, "wine_get_version"))))
            text += ", under Wine " + std::string(version());
    // Under Wine the host's /proc is reachable through drive Z:.
    std::ifstream cpu("Z:\\proc\\cpuinfo");
    std::string line;
    while (std::getline(cpu, line))
        if (line.rfind("model name", 0) == 0) {
            text = line.substr(line.find(':') + 2) + ", " + text;
            break;
        }
    std::ifstream loadavg("Z:\\proc\\loadavg");
    std::string one, five, fifteen;
    if (loadavg >> one >> five >> fifteen)
        text += ", load average " + one + " " + five + " " + fifteen;
    return text;
}

} // namespace soak
