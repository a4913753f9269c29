#pragma once

#include <string>
#include <vector>

#include "engine/script/SessionRecord.h"
#include "engine/script/SspObject.h"

class CSspInterpreter;

// What one run keeps for the Session and SessMan objects: the session it attached (one
// reference, given back when the run releases its objects) and SessMan's list of session
// lines with its cursor. It rides in the run's list of declared objects, under a name no
// script can write, so the run's own clean-up releases it.
class CSspSessionRunState : public CSspObject {
public:
    // The state of `interp`, made on first use.
    static CSspSessionRunState& Of(CSspInterpreter& interp);

    // Attaches `session` (or detaches with nullptr), mirrored in interp.m_pSession.
    void Attach(CSspInterpreter& interp, CSessionRef session);

    // Never reached by scripts; raises the unknown-object text if it ever is.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    CSessionRef m_session;
    std::vector<std::string> m_lines;
    long m_cursor = -1;  // index of the fetched line; -1 before the first fetch
};
