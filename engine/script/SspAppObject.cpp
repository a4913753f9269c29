#include "engine/script/SspAppObject.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/script/SspContextLink.h"
#include "engine/script/SspInterpreter.h"

CSspAppObject g_sspApp;

void CSspAppObject::CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    CSspContextLink* link = CSspContextLink::Current();
    if (link == nullptr) {
        throw CSspException(CSspContextLink::kNotAvailable, call.m_pPos);
    }
    link->CallAppMember(interp.m_strUrlFolder, call, result);
    if (SspNameEquals(call.m_strMember, "UseDataSource") && interp.m_pDataSource != nullptr) {
        throw CSspException(g_msg.m_useDataSourceTooLate, call.m_pPos);
    }
}
