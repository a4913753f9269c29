#include "engine/script/SspSessionRunState.h"

#include <memory>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/script/SspInterpreter.h"

namespace {
// Declared names are never empty, so this entry can neither be found nor clash.
const char kStateName[] = "";
}  // namespace

CSspSessionRunState& CSspSessionRunState::Of(CSspInterpreter& interp) {
    for (CSspDeclared& decl : interp.m_declared) {
        if (decl.m_kind == CSspDeclKind::Ldap && decl.m_strName == kStateName &&
            decl.m_pKeyword == nullptr) {
            if (auto* state = dynamic_cast<CSspSessionRunState*>(decl.m_pObject.get())) {
                return *state;
            }
        }
    }
    auto state = std::make_unique<CSspSessionRunState>();
    CSspSessionRunState& ref = *state;
    // At the front: released last, after the objects that a page declared.
    interp.m_declared.insert(interp.m_declared.begin(), CSspDeclared{CSspDeclKind::Ldap, kStateName,
                                                                     nullptr, std::move(state)});
    return ref;
}

void CSspSessionRunState::Attach(CSspInterpreter& interp, CSessionRef session) {
    m_session = std::move(session);
    interp.m_pSession = m_session.get();
}

void CSspSessionRunState::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue&) {
    throw CSspException(std::string(g_msg.m_unknownObject) + call.m_strObject, call.m_pPos);
}
