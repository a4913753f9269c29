// Names the request read results in test failures instead of their raw bytes.
#pragma once

#include <ostream>
#include <utility>

#include "engine/web/HttpRequest.h"

// Found by argument-dependent lookup, so it lives beside CHttpRequest, not in a test namespace.
inline void PrintTo(CHttpRequest::EReadResult result, std::ostream* os) {
    using R = CHttpRequest::EReadResult;
    static constexpr std::pair<R, const char*> kNames[] = {
        {R::kOk, "kOk"},
        {R::kNoMemory, "kNoMemory"},
        {R::kNoLength, "kNoLength"},
        {R::kFailed, "kFailed"},
        {R::kHeaderTooLarge, "kHeaderTooLarge"},
        {R::kTooLarge, "kTooLarge"},
        {R::kNoConnection, "kNoConnection"},
        {R::kInvalidAddress, "kInvalidAddress"},
    };
    for (const auto& [value, name] : kNames) {
        if (value == result) {
            *os << name;
            return;
        }
    }
    *os << "EReadResult(" << static_cast<int>(result) << ")";
}
