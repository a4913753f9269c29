#include "engine/foundation/UrlCodec.h"

#include <gtest/gtest.h>

#include "engine/foundation/AsciiText.h"

namespace {

TEST(UrlCodecTest, EncodeDecodeAndHex) {
    EXPECT_EQ(UrlEncode("a b;c"), "a+b%3bc");
    EXPECT_EQ(UrlEncode("\r\n!()+,/:?@[^`{~ \x80z"),
              "%0d%0a%21%28%29%2b%2c%2f%3a%3f@%5b%5e%60%7b%7e+\x80z");
    EXPECT_EQ(UrlEncode("AZaz09-_.*"), "AZaz09-_.*");
    EXPECT_EQ(UrlDecode("+a%41%"), " aA%");
    EXPECT_EQ(UrlDecode("%4"), "%4");
    EXPECT_EQ(UrlDecode(UrlEncode("round trip; 100% \x01\xff")), "round trip; 100% \x01\xff");
    EXPECT_EQ(HexPairToByte("ff"), '\xff');
    EXPECT_EQ(HexPairToByte("0A"), '\n');
    EXPECT_EQ(HexPairToByte("abc"), '?');
    EXPECT_EQ(ByteToHex(0x0f), "0f");
    EXPECT_EQ(ByteToHex(0xab), "ab");
    EXPECT_EQ(DoubledChar("5% of %d", '%'), "5%% of %%d");
}

}  // namespace
