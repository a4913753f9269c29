#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/script/Rc4.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

TEST(Rc4, PublishedKnownAnswer) {
    // A 40-bit key padded with eleven zero bytes, as a 128-bit key, over the bytes 00..1f.
    std::array<unsigned char, 16> key{0x73, 0x40, 0xe6, 0xe2, 0x74};
    std::vector<unsigned char> data(32);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i);
    }
    Rc4Transform(key, data);
    EXPECT_EQ(Hex(data.data(), data.size()),
              "2659de2444fa369c110cbb9db6a2bd24042ee3ba7276f3278dd5b42f56cff8c9");
}

TEST(Rc4, KeystreamRestartsWithEveryText) {
    CRc4Key key{};
    std::string failure;
    ASSERT_TRUE(DerivePassTextKey("secret", key, failure)) << failure;
    std::string plain("same text", 9);
    std::string first = Rc4Transform(key, plain);
    EXPECT_NE(first, plain);
    EXPECT_EQ(Rc4Transform(key, plain), first);
    EXPECT_EQ(Rc4Transform(key, first), plain);
    // Bytes are bytes: NULs and high bytes go through.
    std::string binary("\0\xff\x80z", 4);
    EXPECT_EQ(Rc4Transform(key, Rc4Transform(key, binary)), binary);
}

TEST(Rc4, PassTextKeyIsTheWholeMd5) {
    struct Case {
        const char* pass;
        const char* md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"secret", "5ebe2294ecd0e0f08eab7690d2a6ee69"},
    };
    for (const Case& c : cases) {
        CRc4Key key{};
        std::string failure;
        ASSERT_TRUE(DerivePassTextKey(c.pass, key, failure)) << failure;
        EXPECT_EQ(Hex(key.data(), key.size()), c.md5) << c.pass;
    }
}

}  // namespace
