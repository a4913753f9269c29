#include "engine/foundation/QuotedPrintable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/foundation/tests/BufferDecode.h"

namespace {

CDecoded Decode(const char* text, bool underscore, long bufferSize = 256) {
    return DecodeIntoBuffer(&QuotedPrintableDecode, text, underscore, bufferSize);
}

}  // namespace

TEST(QuotedPrintable, DecodeRules) {
    struct Case {
        const char* text;
        bool underscore;
        std::string expected;
    };
    const Case cases[] = {
        {"a=3Db", false, "a=b"},
        {"a=3db", false, "a=b"},
        {"=E9t=C3=A9", false, "\xE9t\xC3\xA9"},
        {"=00x", false, std::string("\0x", 2)},
        {"a=\r\nb", false, "ab"},
        {"a=\nb", false, "ab"},
        {"a=\rb", false, "ab"},
        {"a=", false, "a"},
        {"a=zb", false, "a=zb"},
        {"a=3zb", false, "a=3zb"},
        {"a=3", false, "a=3"},
        {"a_b", true, "a b"},
        {"a_b", false, "a_b"},
        {"=5F", true, "_"},
        {"plain text\r\n", false, "plain text\r\n"},
    };
    for (const Case& c : cases) {
        const CDecoded d = Decode(c.text, c.underscore);
        EXPECT_EQ(d.bytes, c.expected) << c.text;
        EXPECT_EQ(d.consumed, static_cast<long>(std::char_traits<char>::length(c.text))) << c.text;
    }
}

TEST(QuotedPrintable, StopsWhenTheBufferIsFull) {
    const CDecoded d = Decode("ab=41cd", false, 4);
    EXPECT_EQ(d.bytes, "abA");
    EXPECT_EQ(d.consumed, 5);

    const CDecoded one = Decode("xyz", false, 1);
    EXPECT_EQ(one.bytes, "");
    EXPECT_EQ(one.consumed, 0);
}

TEST(QuotedPrintable, RefusesMissingArguments) {
    char buffer[8] = "keep";
    long count = 42;
    EXPECT_EQ(QuotedPrintableDecode(nullptr, buffer, sizeof buffer, count, false), 0);
    EXPECT_EQ(QuotedPrintableDecode("a", nullptr, 8, count, false), 0);
    EXPECT_EQ(QuotedPrintableDecode("a", buffer, 0, count, false), 0);
    EXPECT_EQ(count, 42);
    EXPECT_STREQ(buffer, "keep");
}
