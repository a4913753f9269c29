#include "engine/web/SchedulerMailHooks.h"

#include <atomic>

namespace {
std::atomic<CSchedulerMailHooks*> g_hooks{nullptr};
}  // namespace

CSchedulerMailHooks* CSchedulerMailHooks::Current() {
    return g_hooks.load();
}

void CSchedulerMailHooks::Install(CSchedulerMailHooks* hooks) {
    g_hooks.store(hooks);
}
