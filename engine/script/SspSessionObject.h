#pragma once

#include <string>

#include "engine/script/SspObject.h"

// The script's Session object: logon and logoff, and the members of the run's session
// record (CSessionRecord::CallMethod). The run attaches the session on its first Session
// call: the ID is the first non-empty of the response's "sspSessionID" cookie, the request's
// cookie and the request's "sspSessionID" field; the secret comes from the "sspSessionKey"
// cookie of the response or else the request. A session that is not found, or no ID, fails
// only for members other than IsValid and Logoff. One process-wide instance without state.
class CSspSessionObject : public CSspObject {
public:
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // The session ID this run presents; empty when none.
    static std::string GetSessionId(CSspInterpreter& interp);
    // The session secret this run presents; empty when none.
    static std::string GetSessionKey(CSspInterpreter& interp);

private:
    static void Logon(CSspInterpreter& interp, CSspCall& call, CSspValue& result);
};

extern CSspSessionObject g_sspSession;
