#pragma once

#include "engine/script/SspObject.h"

// The script's App object: every member goes to the server context for the page's URL
// folder (Init, IsValid, then the page's application). After UseDataSource, a run that
// already holds a data source raises "UseDataSource can only be called before all SQL related
// statements." (the member has done its work by then). One process-wide instance.
class CSspAppObject : public CSspObject {
public:
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;
};

extern CSspAppObject g_sspApp;
