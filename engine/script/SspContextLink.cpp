#include "engine/script/SspContextLink.h"

#include "engine/script/SspAppObject.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/script/SspSessMan.h"
#include "engine/script/SspSessionObject.h"

void CSspContextLink::Install(CSspContextLink* link) {
    CSspObjectRegistry& registry = CSspObjectRegistry::Instance();
    registry.Register("Session", &g_sspSession);
    registry.Register("SessMan", &g_sspSessMan);
    registry.Register("App", &g_sspApp);
    s_pCurrent.store(link, std::memory_order_release);
}
