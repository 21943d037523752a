#include "LinkObserver.h"

namespace tarvolt {

namespace {
std::atomic<LinkObserver *> observer{nullptr};
} // namespace

void SetLinkObserver(LinkObserver *value) { observer.store(value); }

LinkObserver *CurrentLinkObserver() { return observer.load(std::memory_order_acquire); }

} // namespace tarvolt
