#pragma once

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspMemberRow.h"

class CSspInterpreter;
class CSspValue;

// A built-in object that scripts reach as `Name.member(...)`.
//
// Process-wide objects (String, To, Server's own members, the global functions) are one
// instance each, listed by name in CSspObjectRegistry. Declared objects (array, datetime, ...)
// are made by their declaration statement and held by the interpreter that ran it.
class CSspObject {
public:
    virtual ~CSspObject() = default;

    // Runs `call.m_strMember` with `call`'s arguments and fills `result`. `interp` is the
    // running interpreter (locals, URL, request, response, data source, root).
    // Errors are CSspException at call.m_pPos.
    virtual void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) = 0;
};
