#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspObject.h"

// Drives one built-in member directly, as the evaluator would hand it over.
namespace builtin_test {

// Errors must point at the call; this is the source text the test calls "run".
inline constexpr const char kSource[] = "Object.member(args)";

inline CSspValue Text(std::string_view text) {
    return CSspValue::FromText(std::string(text));
}

inline CSspValue Int(int value) {
    return CSspValue::FromInteger(value);
}

// Fills `call` for `object.member(args...)`.
inline void Prepare(CSspCall& call, std::string_view object, std::string_view member,
                    std::initializer_list<CSspValue> args) {
    call.m_strObject = std::string(object);
    call.m_strMember = std::string(member);
    call.m_pPos = kSource;
    call.m_pEnd = kSource + sizeof kSource - 1;
    call.m_bHasArgs = true;
    for (const CSspValue& arg : args) {
        call.AddArg(arg);
    }
}

// The result of `object.member(args...)` on `target`.
inline CSspValue Call(CSspObject& target, std::string_view object, std::string_view member,
                      std::initializer_list<CSspValue> args = {}) {
    CSspInterpreter interp;
    CSspCall call;
    Prepare(call, object, member, args);
    CSspValue result;
    target.CallMethod(interp, call, result);
    return result;
}

// The message of the CSspException that the call raises; fails the test when it raises none
// or raises it somewhere other than at the call.
inline std::string CallError(CSspObject& target, std::string_view object, std::string_view member,
                             std::initializer_list<CSspValue> args = {}) {
    CSspInterpreter interp;
    CSspCall call;
    Prepare(call, object, member, args);
    CSspValue result;
    try {
        target.CallMethod(interp, call, result);
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Position(), kSource) << e.Message();
        return e.Message();
    }
    ADD_FAILURE() << object << "." << member << " raised no error";
    return std::string();
}

}  // namespace builtin_test
