#include "engine/script/SspServerLink.h"

#include <atomic>

namespace {
std::atomic<CSspServerLink*> g_link{nullptr};
}

CSspServerLink* CSspServerLink::Current() {
    return g_link.load(std::memory_order_acquire);
}

void CSspServerLink::Install(CSspServerLink* link) {
    g_link.store(link, std::memory_order_release);
}
