// Line reads in tests: a failing comparison names the result, and a line's length can be
// checked in one comparison.
#pragma once

#include <ostream>

#include "engine/foundation/SocketConn.h"

inline void PrintTo(CSocketConn::ELineRead r, std::ostream* os) {
    switch (r) {
        case CSocketConn::ELineRead::kLine:
            *os << "kLine";
            return;
        case CSocketConn::ELineRead::kTooLong:
            *os << "kTooLong";
            return;
        case CSocketConn::ELineRead::kRecvError:
            *os << "kRecvError";
            return;
        case CSocketConn::ELineRead::kClosed:
            *os << "kClosed";
            return;
    }
    *os << static_cast<int>(r);
}

// The count of a line read whole; for any other result, the value of its code (negative).
inline int ReadLineCount(CSocketConn& conn, char* buffer, int size) {
    int length = 0;
    const CSocketConn::ELineRead r = conn.ReadLine(buffer, size, &length);
    return r == CSocketConn::ELineRead::kLine ? length : static_cast<int>(r);
}
