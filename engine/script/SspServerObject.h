#pragma once

#include <string>

#include "engine/script/SspObject.h"

// The script's Server object. Its own members run here: GetUniqueID(table, column[, registry
// table]) (arguments arrive as written), CurrentUrl, CurrentUrlPath and error (the response's
// `error` member; nothing without a response). Every other member goes to the server
// context's members through the installed CSspServerLink; without one it raises
// kServerNotAvailable. After any member named UseDataSource, a run that already holds a data
// source raises "UseDataSource can only be called before all SQL related statements." (the
// member has done its work by then). One process-wide instance without state.
class CSspServerObject : public CSspObject {
public:
    static constexpr const char* kServerNotAvailable = "Server object not available.";
    // The registry table the installation's set-up creates.
    static constexpr const char* kDefaultRegistryTable = "zr2_registry";

    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // The next unique id of table.column (first and second arguments) from the registry
    // table (the third argument when there are exactly three, else zr2_registry), through
    // the run's data source. Fewer than two arguments or an empty table or column raise
    // "Missing parameter.". Shared by Server.GetUniqueID and Local.GetUniqueID.
    static void GetUniqueId(CSspInterpreter& interp, CSspCall& call, CSspValue& result);
};

// The process-wide Server object.
extern CSspServerObject g_sspServer;
