#include "LinkContext.h"

#include <new>
#include <thread>

namespace tarvolt {

bool HandlerGate::Enter()
{
    // Sequentially consistent on both sides: either Close sees this invocation inside, or this
    // invocation sees the gate closed.
    inside_.fetch_add(1);
    if (closed_.load()) {
        inside_.fetch_sub(1);
        return false;
    }
    return true;
}

void HandlerGate::Leave() { inside_.fetch_sub(1); }

void HandlerGate::Close()
{
    closed_.store(true);
    // Handlers only log and store atomics, so the wait is short; nothing here blocks them.
    while (inside_.load() != 0)
        std::this_thread::yield();
}

void DetachAll(std::vector<std::function<void()>> &detachers)
{
    for (const std::function<void()> &detach : detachers) {
        try {
            detach();
        } catch (...) {
        }
    }
    detachers.clear();  // and with them the objects they held
}

void DetachHandlers(LinkContext &context)
{
    DetachAll(context.characteristicDetachers);
    DetachAll(context.deviceDetachers);
    DetachAll(context.watcherDetachers);
}

radio::ResultCode ResultOfCurrentException()
{
    try {
        throw;
    } catch (const radio::PlatformError &error) {
        return error.Code();
    } catch (const std::bad_alloc &) {
        return radio::kOutOfMemory;
    } catch (...) {
        return radio::kFail;
    }
}

} // namespace tarvolt
