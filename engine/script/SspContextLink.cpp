#include "engine/script/SspContextLink.h"

#include <atomic>

#include "engine/script/SspAppObject.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/script/SspSessMan.h"
#include "engine/script/SspSessionObject.h"

namespace {
std::atomic<CSspContextLink*> g_link{nullptr};
}

CSspContextLink* CSspContextLink::Current() {
    return g_link.load(std::memory_order_acquire);
}

void CSspContextLink::Install(CSspContextLink* link) {
    CSspObjectRegistry& registry = CSspObjectRegistry::Instance();
    registry.Register("Session", &g_sspSession);
    registry.Register("SessMan", &g_sspSessMan);
    registry.Register("App", &g_sspApp);
    g_link.store(link, std::memory_order_release);
}
