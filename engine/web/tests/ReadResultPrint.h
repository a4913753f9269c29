// Names the request read results in test failures instead of their raw bytes.
#pragma once

#include <ostream>

#include "engine/web/HttpRequest.h"

// Found by argument-dependent lookup, so it lives beside CHttpRequest, not in a test namespace.
inline void PrintTo(CHttpRequest::EReadResult result, std::ostream* os) {
    using R = CHttpRequest::EReadResult;
    switch (result) {
        case R::kOk:
            *os << "kOk";
            return;
        case R::kNoMemory:
            *os << "kNoMemory";
            return;
        case R::kNoLength:
            *os << "kNoLength";
            return;
        case R::kFailed:
            *os << "kFailed";
            return;
        case R::kHeaderTooLarge:
            *os << "kHeaderTooLarge";
            return;
        case R::kTooLarge:
            *os << "kTooLarge";
            return;
        case R::kNoConnection:
            *os << "kNoConnection";
            return;
        case R::kInvalidAddress:
            *os << "kInvalidAddress";
            return;
    }
    *os << "EReadResult(" << static_cast<int>(result) << ")";
}
