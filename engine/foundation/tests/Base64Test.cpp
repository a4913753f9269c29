#include "engine/foundation/Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/foundation/tests/BufferDecode.h"

namespace {

CDecoded Decode(const char* text, bool flush, long bufferSize = 256) {
    return DecodeIntoBuffer(&Base64Decode, text, flush, bufferSize);
}

std::string Encode(const std::string& bytes) {
    std::string out = "stale";
    Base64Encode(bytes.data(), bytes.size(), out);
    return out;
}

}  // namespace

TEST(Base64, DecodeExamples) {
    struct Case {
        const char* text;
        bool flush;
        long consumed;
        std::string bytes;
    };
    const Case cases[] = {
        {"QUJD", false, 4, "ABC"},
        {"QUJD", true, 4, "ABC"},
        {"QUI=", true, 4, "AB"},
        {"QUI=", false, 0, ""},
        {"QQ==", true, 4, "A"},
        {"QUJDRA==", false, 4, "ABC"},
        {"QUJDRA==", true, 8, "ABCD"},
        {"QU\r\nJD", false, 6, "ABC"},
        {" Q U J D ", true, 9, "ABC"},
        {"", true, 0, ""},
        {"AP8A", false, 4, std::string("\0\xFF\0", 3)},
    };
    for (const Case& c : cases) {
        const CDecoded d = Decode(c.text, c.flush);
        EXPECT_EQ(d.consumed, c.consumed) << c.text;
        EXPECT_EQ(d.bytes, c.bytes) << c.text;
    }
}

TEST(Base64, DecodeRefusesMissingArguments) {
    char buffer[8] = "keep";
    long count = 42;
    EXPECT_EQ(Base64Decode(nullptr, buffer, sizeof buffer, count, true), 0);
    EXPECT_EQ(Base64Decode("QUJD", nullptr, 8, count, true), 0);
    EXPECT_EQ(Base64Decode("QUJD", buffer, 0, count, true), 0);
    EXPECT_EQ(count, 42);
    EXPECT_STREQ(buffer, "keep");
}

// A small buffer stops the walk; the consumed count lets the caller continue from there.
TEST(Base64, DecodeStopsBeforeTheBufferOverflowsAndResumes) {
    const std::string original = "The quick brown fox jumps";
    std::string text;
    Base64EncodeText(original.c_str(), text);

    std::string decoded;
    size_t offset = 0;
    for (int guard = 0; guard < 100 && offset < text.size(); ++guard) {
        char buffer[8];
        long count = 0;
        const long consumed =
            Base64Decode(text.c_str() + offset, buffer, sizeof buffer, count, false);
        ASSERT_LE(count, 6);
        decoded.append(buffer, static_cast<size_t>(count));
        if (consumed == 0) {
            const CDecoded rest = Decode(text.c_str() + offset, true);
            decoded += rest.bytes;
            break;
        }
        offset += static_cast<size_t>(consumed);
    }
    EXPECT_EQ(decoded, original);
}

TEST(Base64, EncodeLinesAndPadding) {
    struct Case {
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"A", "QQ=="},
        {"AB", "QUI="},
        {"ABC", "QUJD"},
        {std::string("\0\xFF\0", 3), "AP8A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.bytes), c.expected);
    }

    const std::string line57(57, 'x');
    const std::string one = Encode(line57);
    EXPECT_EQ(one.size(), 76u);
    EXPECT_EQ(one.find('\r'), std::string::npos);

    const std::string two = Encode(line57 + "y");
    ASSERT_EQ(two.size(), 76u + 2u + 4u);
    EXPECT_EQ(two.substr(0, 76), one);
    EXPECT_EQ(two.substr(76, 2), "\r\n");
    EXPECT_EQ(two.substr(78), "eQ==");

    const std::string three = Encode(std::string(114, 'x'));
    EXPECT_EQ(three, one + "\r\n" + one);
}

TEST(Base64, RoundTripOfEveryByteAndLength) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    for (size_t length : {1u, 2u, 3u, 56u, 57u, 58u, 200u, 256u}) {
        const std::string bytes = all.substr(0, length);
        const std::string text = Encode(bytes);
        const CDecoded d = Decode(text.c_str(), true, 1024);
        EXPECT_EQ(d.bytes, bytes) << length;
        EXPECT_EQ(d.consumed, static_cast<long>(text.size())) << length;
    }
}

TEST(Base64, EncodeTextAndSwapPairs) {
    std::string out = "stale";
    Base64EncodeText(nullptr, out);
    EXPECT_EQ(out, "");
    Base64EncodeText("ABC", out);
    EXPECT_EQ(out, "QUJD");

    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {{"", ""}, {"a", "a"}, {"ab", "ba"}, {"abc", "bac"}, {"abcd", "badc"}};
    for (const Case& c : cases) {
        std::string text = c.text;
        SwapCharPairs(text);
        EXPECT_EQ(text, c.expected);
        SwapCharPairs(text);
        EXPECT_EQ(text, c.text);
    }
}
