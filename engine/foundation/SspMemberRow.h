#pragma once

#include <climits>
#include <cstddef>
#include <string_view>
#include <utility>

#include "engine/foundation/SspCall.h"

class CSspValue;

// True when `a` and `b` are equal ignoring ASCII case.
bool SspNameEquals(std::string_view a, std::string_view b);

// A member that takes any number of arguments from its least on.
inline constexpr int kSspAnyArgs = INT_MAX;

// One row of an object's member table that carries the member's handler, so a member is
// named once: its name, its least and most argument counts and the function that runs it.
// `TContext` is what the handler works on ahead of the call and its result: the object,
// and the running interpreter for members that need it.
template <class... TContext>
struct CSspMemberRow {
    using Handler = void (*)(TContext... context, CSspCall& call, CSspValue& result);
    std::string_view m_name;  // matched without regard to ASCII case
    int m_minArgs;            // fewer arguments raise "Missing parameter."
    int m_maxArgs;            // and so do more
    Handler m_handler;
};

// Throws "Missing parameter." at `position` unless `count` is from `least` to `most`.
void CheckSspArgCount(std::size_t count, int least, int most, const char* position);

// Throws "Missing parameter." at call.m_pPos unless `call` carries from `least` to `most`
// arguments.
inline void CheckSspArgCount(const CSspCall& call, int least, int most) {
    CheckSspArgCount(call.ArgCount(), least, most, call.m_pPos);
}

// Throws `unknownText` followed by the member name as written, at call.m_pPos.
[[noreturn]] void ThrowUnknownSspMember(const CSspCall& call, std::string_view unknownText);

// The row of `table` named `name` (ASCII case-insensitive), or nullptr.
template <class TRow, std::size_t N>
const TRow* FindSspMemberRow(const TRow (&table)[N], std::string_view name) {
    for (const TRow& row : table) {
        if (SspNameEquals(row.m_name, name)) {
            return &row;
        }
    }
    return nullptr;
}

// Checks the argument counts of `row` and runs its handler on `context`.
template <class... TContext, class... TPassed>
void CallSspMemberRow(const CSspMemberRow<TContext...>& row, CSspCall& call, CSspValue& result,
                      TPassed&&... context) {
    CheckSspArgCount(call, row.m_minArgs, row.m_maxArgs);
    row.m_handler(std::forward<TPassed>(context)..., call, result);
}

// CallSspMemberRow for members that may ask for more memory than there is (a huge count or
// text): that is a script error at the call, not the end of the process.
void CallSspMemberRowCatchingNoMemory(const CSspMemberRow<>& row, CSspCall& call,
                                      CSspValue& result);

// Runs the row of `table` that `call.m_strMember` names on `context`; with no such row,
// throws `unknownText` followed by the name.
template <class TRow, std::size_t N, class... TPassed>
void DispatchSspMemberRow(const TRow (&table)[N], CSspCall& call, CSspValue& result,
                          std::string_view unknownText, TPassed&&... context) {
    const TRow* row = FindSspMemberRow(table, call.m_strMember);
    if (row == nullptr) {
        ThrowUnknownSspMember(call, unknownText);
    }
    CallSspMemberRow(*row, call, result, std::forward<TPassed>(context)...);
}
