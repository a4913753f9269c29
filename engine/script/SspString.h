#pragma once

#include <string>
#include <string_view>

#include "engine/script/SspObject.h"

// The script's String object: text searching and cutting. One process-wide instance without
// state, shared by every thread. Positions seen by scripts are 1-based; every operation stays
// inside the text whatever start or count a page passes.
class CSspString : public CSspObject {
public:
    // Runs call.m_strMember (any case) with the call's arguments and fills `result`. Too few
    // arguments raise "Missing parameter."; an unknown member raises the String object's
    // unknown-function text followed by the member name. Errors carry the call's position.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // A row of the member table; its handler needs nothing but the call.
    using MemberRow = CSspMemberRow<>;
    // The member named `name` (any case), or nullptr.
    static const MemberRow* FindMember(std::string_view name);

    // The text without leading and trailing white space (blank, TAB, CR, LF, VT, FF).
    static std::string Trim(std::string_view text);

    // 1-based position of the first byte of `text` that is one of `chars`; 0 when none.
    static int FindOneOf(std::string_view text, std::string_view chars);

    // 1-based position of the first occurrence of `sought` at or after the 1-based `start`;
    // 0 when none. A start below 1 searches from the beginning; past the end finds nothing.
    static int FindString(std::string_view text, std::string_view sought, int start);

    // `count` bytes from the 1-based `start`, cut at the end of the text. A negative count or
    // a start past the end gives an empty text; a start below 1 counts as 1.
    static std::string SubString(std::string_view text, int start, int count);

    // The first / last `n` bytes; the whole text when n exceeds its length, empty when n < 1.
    static std::string Left(std::string_view text, int n);
    static std::string Right(std::string_view text, int n);

    // A random number 0 to 32767 as "%d"; with digits > 0 zero-padded to that many places and
    // cut to its last `digits` characters. Each thread draws from its own generator, seeded
    // once from the system's random source, so calls in the same second differ.
    static std::string Random(int digits);
};

// The process-wide String object.
extern CSspString g_sspString;
