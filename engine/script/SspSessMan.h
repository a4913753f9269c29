#pragma once

#include <string>
#include <vector>

#include "engine/script/SspObject.h"

// The script's SessMan object, for administrative pages: PrepareForFetch takes a sorted copy
// of the session list, fetch moves through it, USER_ID, IP_ADDRESS, START_TIME, LAST_ACCESS
// and APP_PATH read the fields of the fetched line, Remove(user) ends a user's sessions.
// The list and cursor belong to the run. One process-wide instance without state.
class CSspSessMan : public CSspObject {
public:
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // Field `index` (0 to 4) of a session line; fields are cut at every "\n" by position, so
    // an empty field keeps its place, and the last field takes the rest of the line.
    static std::string Field(const std::string& line, int index);
};

extern CSspSessMan g_sspSessMan;
