#pragma once

#include <span>
#include <string>
#include <string_view>

class CSspCall;
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

// One row of an object's member table.
struct CSspMember {
    std::string_view m_name;  // matched without regard to ASCII case
    int m_minArgs;            // fewer arguments raise "Missing parameter."
    int m_id;                 // the object's own code for the member
};

// The row of `table` named `name` (ASCII case-insensitive), or nullptr.
const CSspMember* FindSspMember(std::span<const CSspMember> table, std::string_view name);

// The row of `table` that `call.m_strMember` names. Throws CSspException at call.m_pPos:
// `unknownText` followed by the member name as written when there is no such row, and
// "Missing parameter." when the call carries fewer than m_minArgs arguments.
const CSspMember& DispatchSspMember(std::span<const CSspMember> table, const CSspCall& call,
                                    std::string_view unknownText);

// True when `a` and `b` are equal ignoring ASCII case.
bool SspNameEquals(std::string_view a, std::string_view b);
