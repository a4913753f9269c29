#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/foundation/SspValue.h"
#include "engine/script/FileIdUrl.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspTo.h"
#include "engine/script/SspToCipher.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/testsupport/ScopedTimeZone.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Text;

namespace {

class ToCipher : public ::testing::Test {
protected:
    void SetUp() override {
        InstallSspToCipher();
        g_sspToCipher.DestroyKey();
    }
    void TearDown() override {
        g_sspToCipher.DestroyKey();
        g_sspTo.SetCipherMembers(nullptr);
    }

    static std::string To(const char* member, std::initializer_list<CSspValue> args = {}) {
        return Call(g_sspTo, "To", member, args).GetText();
    }
};

TEST_F(ToCipher, RoundTripAndWindowsCiphertext) {
    EXPECT_EQ(To("cipherKeyCreated"), "0");
    EXPECT_EQ(To("createCipherKey", {Text("secret")}), "1");
    EXPECT_EQ(To("CipherKeyCreated"), "1");
    // RC4 under MD5("secret"), as the Windows enhanced provider gives it.
    std::string coded = To("cipher", {Text("hello")});
    EXPECT_EQ(coded, "/nmUs9Q=");
    EXPECT_EQ(To("decipher", {Text(coded)}), "hello");
    To("destroyCipherKey");
    EXPECT_EQ(To("cipherKeyCreated"), "0");
}

TEST_F(ToCipher, ScriptRoundTrip) {
    CSspRunResult run = RunSspText(
        "To.createCipherKey('secret'); write To.cipher('hello') || ' ' || "
        "To.decipher(To.cipher('hello')) || ' ' || To.cipherKeyCreated();",
        false);
    ASSERT_EQ(run.m_code, 0) << run.m_error;
    EXPECT_EQ(run.m_output, "/nmUs9Q= hello 1");
}

TEST_F(ToCipher, LimitsAndMissingKey) {
    std::string longest(256, 'A');
    EXPECT_EQ(CallError(g_sspTo, "To", "cipher", {Text(longest)}),
              "Call to.createCipherKey first.");
    EXPECT_EQ(CallError(g_sspTo, "To", "decipher", {Text("/nmUs9Q=")}),
              "Call to.createCipherKey first.");
    EXPECT_EQ(CallError(g_sspTo, "To", "cipher", {Text(longest + "A")}),
              "text to be encrypted cannot exceed 256 characters.");
    // Empty texts need no key.
    EXPECT_EQ(To("cipher", {Text("")}), "");
    EXPECT_EQ(To("decipher", {Text("")}), "");

    To("createCipherKey", {Text("secret")});
    std::string coded = To("cipher", {Text(longest)});
    EXPECT_NE(coded.find("\r\n"), std::string::npos);  // 344 characters: broken at 76
    EXPECT_EQ(To("decipher", {Text(coded)}), longest);

    // More than 256 bytes are refused, however long the text is: the decoder never writes past
    // its buffer first.
    std::string tooLong = g_sspToCipher.Cipher(longest) + "QUFB";
    EXPECT_EQ(CallError(g_sspTo, "To", "decipher", {Text(tooLong)}), "Ciphertext limited to 256.");
    std::string huge(100000, 'Q');
    EXPECT_EQ(CallError(g_sspTo, "To", "decipher", {Text(huge)}), "Ciphertext limited to 256.");
}

TEST_F(ToCipher, KeyLifecycle) {
    To("createCipherKey", {Text("secret")});
    // A second key request keeps the first key and gives no value.
    EXPECT_TRUE(Call(g_sspTo, "To", "createCipherKey", {Text("other")}).IsNull());
    EXPECT_EQ(To("cipher", {Text("hello")}), "/nmUs9Q=");

    // Another pass text deciphers to other bytes, without an error.
    std::string coded = To("cipher", {Text("hello")});
    To("destroyCipherKey");
    To("createCipherKey", {Text("other")});
    std::string wrong = To("decipher", {Text(coded)});
    EXPECT_EQ(wrong.size(), 5u);
    EXPECT_NE(wrong, "hello");
}

TEST_F(ToCipher, ConcurrentPagesShareOneKey) {
    // Pages on several threads race to make the key: exactly one wins, and every text is
    // ciphered with a whole key, the winner's.
    std::atomic<int> created{0};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            if (g_sspToCipher.CreateKey("pass" + std::to_string(t))) {
                ++created;
            }
            std::string first = g_sspToCipher.Cipher("hello");
            for (int i = 0; i < 200; ++i) {
                if (g_sspToCipher.Cipher("hello") != first ||
                    g_sspToCipher.Decipher(first) != "hello") {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(created.load(), 1);
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(ToCipher, MissingParameters) {
    for (const char* member : {"createCipherKey", "cipher", "decipher", "fileUrl"}) {
        EXPECT_EQ(CallError(g_sspTo, "To", member), "Missing parameter.") << member;
    }
    EXPECT_EQ(CallError(g_sspTo, "To", "fileUrl", {Text("t"), Text("id"), Text("1"), Text("data")}),
              "Missing parameter.");
}

TEST(PassTextCipher, SessionTexts) {
    EXPECT_THROW(
        {
            try {
                CipherPassText(nullptr, "x", kSessionCipherTexts, nullptr);
            } catch (const CSspException& e) {
                EXPECT_STREQ(e.Message().c_str(), "Call session.createCryptKey first.");
                throw;
            }
        },
        CSspException);
    CRc4Key key{};
    std::string failure;
    ASSERT_TRUE(DerivePassTextKey("k", key, failure));
    std::string coded = CipherPassText(&key, std::string(256, 'x'), kSessionCipherTexts, nullptr);
    EXPECT_EQ(DecipherPassText(&key, coded, kSessionCipherTexts, nullptr), std::string(256, 'x'));
    try {
        DecipherPassText(&key, coded + "eHh4", kSessionCipherTexts, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(), "Text to be decrypted cannot exceed 256 characters.");
    }
}

TEST(Base62, EncodeAndDecode) {
    struct Case {
        std::int64_t n;
        const char* text;
    } cases[] = {{0, "0"}, {9, "9"}, {10, "a"}, {61, "Z"}, {62, "10"}, {3843, "ZZ"}, {-1, ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeBase62(c.n), c.text) << c.n;
        if (c.n >= 0) {
            EXPECT_EQ(DecodeBase62(c.text), c.n) << c.text;
        }
    }
    EXPECT_EQ(DecodeBase62("1-"), 62);  // unknown characters count 0
    EXPECT_EQ(DecodeBase62(std::string(40, 'Z')), INT64_MAX);
}

class AttachmentUrl : public ::testing::Test {
protected:
    CScopedTimeZone m_zone{"UTC"};

    // 2026-03-14 09:26:00 UTC, a whole minute.
    static constexpr std::time_t kMade = 1773480360;
    // The bytes 0, 1, ... 31.
    static constexpr CFileTokenKey kKey = [] {
        CFileTokenKey key{};
        for (size_t i = 0; i < key.size(); ++i) {
            key[i] = static_cast<unsigned char>(i);
        }
        return key;
    }();

    static CFileIdToken TokenOf(const std::string& url) {
        EXPECT_EQ(url.rfind("fileInDB/", 0), 0u) << url;
        std::size_t start = 9;
        std::size_t slash = url.find('/', start);
        return SplitFileIdToken(url.substr(start, slash - start));
    }
    static int Decode(const CFileIdToken& t, int server, std::time_t now, int timeout = 30) {
        return DecodeFileIdAt(t.m_table, t.m_keyColumn, t.m_checkAndBody, t.m_dataColumn, server,
                              timeout, now);
    }
};

TEST_F(AttachmentUrl, RoundTrip) {
    struct Case {
        const char* table;
        const char* key;
        const char* id;
        const char* data;
        int expected;
    } cases[] = {
        {"Attachments", "AttId", "42", "AttData", 42},
        {"t", "id", "0", "d", 0},
        {"public.kx30_attachment", "att_id", "987654321", "att_blob", 987654321},
        // Bytes above 0x7f in names: the sums are of unsigned bytes.
        {"Pi\xe8"
         "ces",
         "N\xb0", "7",
         "Donn\xe9"
         "es",
         7},
        // Beyond the integer range the id is clamped.
        {"t", "id", "99999999999", "d", 2147483647},
        // Long names: the token is longer than one Base64 line.
        {"a_table_name_long_enough_to_pass_one_base64_line", "the_primary_key_column", "5",
         "the_data_column_of_the_attachment", 5},
    };
    for (const Case& c : cases) {
        std::string url =
            BuildFileIdUrlAt(c.table, c.key, c.id, c.data, "report.pdf", 31234, kMade, kKey);
        EXPECT_EQ(url.find_first_of("\r\n"), std::string::npos) << url;
        EXPECT_EQ(url.substr(url.size() - 11), "/report.pdf");
        CFileIdToken token = TokenOf(url);
        EXPECT_EQ(token.m_table, c.table);
        EXPECT_EQ(token.m_keyColumn, c.key);
        EXPECT_EQ(token.m_dataColumn, c.data);
        EXPECT_EQ(Decode(token, 31234, kMade + 60), c.expected) << c.table;
        // Only the last four digits of the server number are in the token.
        EXPECT_EQ(Decode(token, 1234, kMade + 60), c.expected) << c.table;
    }
}

TEST_F(AttachmentUrl, KnownToken) {
    // Worked out by hand: body "7" "1234" "q3e9q" "7", sums of unsigned bytes 1337 and 1244;
    // the mac by another HMAC-SHA256 program over "velmorin attachment 1" and each field after
    // its length in four bytes, most significant first.
    EXPECT_EQ(
        BuildFileIdUrlAt("Pi\xe8"
                         "ces",
                         "N\xb0", "7",
                         "Donn\xe9"
                         "es",
                         "report.pdf", 31234, kMade, kKey),
        "fileInDB/"
        "GUon2YzVULw6TL0czNyEzMxR2M5UTctcGRu9ubllycz0zNwgWM3ITZ2QmNhZTN4kzYwkzNxMWOmVDO5EWNmZz"
        "YzMTO0IDNzMTNkBGN0MDNjdjZlFDZ2UjY3YTOlBTM3Y/report.pdf");
}

TEST_F(AttachmentUrl, RefusedTokens) {
    CFileIdToken good = TokenOf(BuildFileIdUrlAt("t", "id", "1234", "d", "x", 4321, kMade, kKey));
    ASSERT_EQ(Decode(good, 4321, kMade), 1234);

    EXPECT_EQ(Decode(good, 4322, kMade), kFileIdOtherServer);
    EXPECT_EQ(Decode(good, 4321, kMade + 29 * 60 + 59), 1234);
    EXPECT_EQ(Decode(good, 4321, kMade + 31 * 60), kFileIdExpired);

    CFileIdToken shortened = good;
    shortened.m_checkAndBody.resize(12);
    EXPECT_EQ(Decode(shortened, 4321, kMade), kFileIdTooShort);

    // Another table, or one changed body character, breaks the check digits.
    CFileIdToken otherTable = good;
    otherTable.m_table = "u";
    EXPECT_EQ(Decode(otherTable, 4321, kMade), kFileIdBadCheck);
    CFileIdToken changed = good;
    changed.m_checkAndBody.back() = changed.m_checkAndBody.back() == 'a' ? 'c' : 'a';
    EXPECT_EQ(Decode(changed, 4321, kMade), kFileIdBadCheck);

    // Check digits that fit a body whose id digit is wrong.
    std::string body = good.m_checkAndBody.substr(2);
    body[0] = body[0] == '9' ? '0' : static_cast<char>(body[0] + 1);
    std::uint32_t sum1 = 0;
    std::uint32_t sum2 = 0;
    for (const std::string& part : {body, good.m_table, good.m_keyColumn, good.m_dataColumn}) {
        SumAlternateChars(part, sum1, sum2);
    }
    CFileIdToken badDigit = good;
    badDigit.m_checkAndBody =
        std::string{static_cast<char>('0' + sum1 % 10), static_cast<char>('0' + sum2 % 10)} + body;
    EXPECT_EQ(Decode(badDigit, 4321, kMade), kFileIdBadLastDigit);

    // A token that is no Base64 at all decodes to fields that fail.
    CFileIdToken garbage = SplitFileIdToken("!!!!");
    EXPECT_LT(Decode(garbage, 4321, kMade), 0);
}

// Only a token whose mac verifies under the key is read any further: a stale reason is never
// told for a token that was not made here.
TEST_F(AttachmentUrl, TheMacIsCheckedBeforeAnythingElse) {
    const std::string url = BuildFileIdUrlAt("t", "id", "1234", "d", "x", 4321, kMade, kKey);
    const std::string token = url.substr(9, url.rfind('/') - 9);
    CFileTokenKey otherKey = kKey;
    otherKey[31] ^= 1;
    const struct {
        const char* label;
        const CFileTokenKey& key;
        int server;
        std::time_t now;
        int expected;
    } cases[] = {
        {"genuine", kKey, 4321, kMade + 60, 1234},
        {"genuine, of an earlier run", kKey, 4322, kMade, kFileIdOtherServer},
        {"genuine, too old", kKey, 4321, kMade + 31 * 60, kFileIdExpired},
        {"another key", otherKey, 4321, kMade, kFileIdForged},
        {"another key, of an earlier run", otherKey, 4322, kMade, kFileIdForged},
        {"another key, too old", otherKey, 4321, kMade + 31 * 60, kFileIdForged},
    };
    for (const auto& c : cases) {
        CFileIdToken fields;
        EXPECT_EQ(DecodeFileIdTokenAt(token, fields, c.key, c.server, 30, c.now), c.expected)
            << c.label;
        EXPECT_EQ(fields.m_table, "t");
        EXPECT_EQ(fields.m_dataColumn, "d");
        EXPECT_EQ(fields.m_mac, FileIdTokenMac(fields, kKey));
    }
}

TEST_F(AttachmentUrl, ThroughTheToObjectWithThisServer) {
    InstallSspToCipher();
    std::string url =
        Call(g_sspTo, "To", "fileUrl",
             {Text("Attachments"), Text("AttId"), Text("77"), Text("AttData"), Text("a.txt")})
            .GetText();
    CFileIdToken token = TokenOf(url);
    EXPECT_EQ(
        DecodeFileId(token.m_table, token.m_keyColumn, token.m_checkAndBody, token.m_dataColumn),
        77);
    int number = FileIdServerNumber();
    EXPECT_GE(number, 0);
    EXPECT_LE(number, 32767);
    SetFileIdServerNumber((number + 1) % 32768);
    EXPECT_EQ(
        DecodeFileId(token.m_table, token.m_keyColumn, token.m_checkAndBody, token.m_dataColumn),
        kFileIdOtherServer);
    SetFileIdServerNumber(number);

    EXPECT_EQ(CallError(g_sspTo, "To", "fileUrl",
                        {Text("t"), Text("id"), Text("-5"), Text("d"), Text("x")}),
              "The file ID of an attachment URL cannot be negative: -5");
    g_sspTo.SetCipherMembers(nullptr);
}

}  // namespace
