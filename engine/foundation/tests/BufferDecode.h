// Runs a decoder that fills a caller's buffer (Base64, quoted-printable) and checks what
// every such decoder promises: fewer bytes than the buffer holds, and a NUL after them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct CDecoded {
    long consumed;
    std::string bytes;
};

// text, buffer, buffer size, byte count out, the decoder's own switch.
using DecodeFunction = long (*)(const char*, char*, long, long&, bool);

inline CDecoded DecodeIntoBuffer(DecodeFunction decode, const char* text, bool option,
                                 long bufferSize) {
    std::vector<char> buffer(static_cast<size_t>(bufferSize) + 1, '#');
    long count = -1;
    const long consumed = decode(text, buffer.data(), bufferSize, count, option);
    EXPECT_GE(count, 0);
    EXPECT_LT(count, bufferSize);
    EXPECT_EQ(buffer[static_cast<size_t>(count)], '\0') << "missing terminator";
    return {consumed, std::string(buffer.data(), static_cast<size_t>(count))};
}
