#pragma once

#include "engine/script/SspObject.h"

// The global functions: a reference without "." that is not a declared datetime object
// (`cgi(x)`, `substring(t, 3, 2)`). Each name is an alias of a String or To member, with the
// same arguments, result and errors; any other name raises "Unknown global function: "
// followed by the name. Stateless; one process-wide instance.
class CSspGlobals : public CSspObject {
public:
    // Runs the function named call.m_strObject (any case).
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;
};

// The process-wide global functions, registered under the empty name.
extern CSspGlobals g_sspGlobals;
