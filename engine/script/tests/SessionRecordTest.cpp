#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SessionRecord.h"
#include "engine/script/SspSessMan.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/testsupport/ScopedTimeZone.h"

using builtin_test::Int;
using builtin_test::kSource;
using builtin_test::Prepare;
using builtin_test::Text;

namespace {

// Session IDs are written in local time; pin the zone so the layout is the same everywhere.
class SessionRecordTest : public ::testing::Test {
protected:
    CScopedTimeZone m_zone{"UTC"};

    // 2026-12-09 08:05:07 UTC.
    static constexpr std::time_t kCreated = 1796803507;

    CSspValue Call(CSessionRecord& record, std::string_view member,
                   std::initializer_list<CSspValue> args = {}, std::time_t now = kCreated) {
        CSspCall call;
        Prepare(call, "Session", member, args);
        CSspValue result;
        record.CallMethod(call, result, now);
        return result;
    }

    // The message of the error the call raises, with its position checked.
    std::string Error(CSessionRecord& record, std::string_view member,
                      std::initializer_list<CSspValue> args = {}, const char* where = kSource,
                      std::time_t now = kCreated) {
        try {
            Call(record, member, args, now);
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Position(), where) << e.Message();
            return e.Message();
        }
        ADD_FAILURE() << member << " raised no error";
        return std::string();
    }
};

TEST_F(SessionRecordTest, IdLayoutForUser42) {
    CSessionRecord record("42", "10.0.0.1", "/", 600, kCreated, 'Q');
    const std::string& id = record.GetSessionId();
    // ']' is code 93 (2026 - 1933), 'L' December; the check letter of "]L09080507-42" is
    // 'A' + 729 % 26 = 'B'.
    EXPECT_EQ(id, "QB]L09080507-42");
    EXPECT_EQ(id.size(), 15u);
    EXPECT_EQ(record.GetUserId(), "42");
    EXPECT_EQ(record.GetStartTime(), kCreated);
    EXPECT_EQ(record.GetLastAccess(), kCreated);
    EXPECT_EQ(record.GetSecret().size(), 32u);
    EXPECT_EQ(record.GetSecret().find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST_F(SessionRecordTest, CheckLetterSumsSignedBytes) {
    struct Case {
        std::string body;
        char letter;
    };
    const Case cases[] = {
        {"]L09080507-42", 'B'},
        // 0xE9 counts as -23: 604 % 26 = 6 (as unsigned it would be 'C').
        {"]L09080507-\xE9", 'G'},
        // A negative sum keeps C's negative remainder: -653 % 26 = -3.
        {"]L09080507-" + std::string(10, '\x80'), static_cast<char>('A' - 3)},
        {"", 'A'},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CSessionRecord::CheckLetter(c.body), c.letter) << c.body;
    }
}

TEST_F(SessionRecordTest, ExpiryCountsWholeMinutesFromCreation) {
    CSessionRecord record("42", "", "/", 600, kCreated, 'Q');
    std::string id = record.GetSessionId();
    std::string badCheck = id;
    badCheck[1] = badCheck[1] == 'Z' ? 'Y' : static_cast<char>(badCheck[1] + 1);
    std::string badBody = id;
    badBody[13] = '7';  // user 72: another sum, the check letter no longer fits
    struct Case {
        std::string id;
        std::time_t now;
        bool expired;
    };
    const Case cases[] = {
        {id, kCreated, false},
        {id, kCreated + 600 * 60, false},
        {id, kCreated + 600 * 60 + 59, false},
        {id, kCreated + 601 * 60, true},
        {badCheck, kCreated, true},
        {badBody, kCreated, true},
        {"QB]L0908050", kCreated, true},
        {"QB]L09080507", kCreated, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CSessionRecord::IsExpiredId(c.id, 600, c.now), c.expired)
            << c.id << " at +" << (c.now - kCreated);
    }
    // Use does not extend a session.
    record.SetLastAccess(kCreated + 600 * 60);
    EXPECT_TRUE(record.IsExpired(600, kCreated + 601 * 60));
}

TEST_F(SessionRecordTest, ShortIdsReadAsNineteenNinety) {
    std::tm local{};
    local.tm_year = 90;
    local.tm_mday = 1;
    local.tm_isdst = -1;
    EXPECT_EQ(CSessionRecord::StartTimeFromId("ABCDEFGHIJKL"), std::mktime(&local));
    EXPECT_EQ(CSessionRecord::UserIdFromId("ABCDEFGHIJKL"), "");
    EXPECT_EQ(CSessionRecord::UserIdFromId("QB]L09080507-"), "");
    EXPECT_EQ(CSessionRecord::Describe("short").substr(0, 10), "01/01/1990");
    EXPECT_EQ(CSessionRecord::Describe("QB]L09080507-42"), "12/09/2026 08:05AM - 42");
}

TEST_F(SessionRecordTest, SecretsAreRandomAndCompared) {
    CSessionRecord a("bob", "", "/", 600, kCreated, 'A');
    CSessionRecord b("bob", "", "/", 600, kCreated, 'A');
    EXPECT_EQ(a.GetSessionId(), b.GetSessionId());
    EXPECT_NE(a.GetSecret(), b.GetSecret());
    EXPECT_TRUE(a.MatchesSecret(a.GetSecret()));
    EXPECT_FALSE(a.MatchesSecret(b.GetSecret()));
    EXPECT_FALSE(a.MatchesSecret(""));
    EXPECT_FALSE(a.MatchesSecret(a.GetSecret().substr(1)));
}

TEST_F(SessionRecordTest, ValidateAndIsValid) {
    CSessionRecord record("42", "", "/", 30, kCreated, 'Q');
    EXPECT_EQ(Call(record, "IsValid", {}, kCreated + 30 * 60).GetText(), "1");
    EXPECT_EQ(Call(record, "validate", {}, kCreated + 30 * 60).GetText(), "1");
    EXPECT_EQ(Call(record, "ISVALID", {}, kCreated + 31 * 60).GetText(), "0");
    // The expired text carries no position.
    std::string text = Error(record, "validate", {}, nullptr, kCreated + 31 * 60);
    EXPECT_EQ(text, "Your session (" + CSessionRecord::Describe(record.GetSessionId()) +
                        ") has expired; Please log on again.");
    EXPECT_EQ(Call(record, "SessionID").GetText(), record.GetSessionId());
}

TEST_F(SessionRecordTest, Variables) {
    CSessionRecord record("42", "", "/", 600, kCreated, 'Q');
    EXPECT_EQ(Call(record, "exist", {Text("Color")}).GetText(), "0");
    Call(record, "SetVar", {Text("Color"), Text("red")});
    Call(record, "setvar", {Text("count"), Int(3)});
    Call(record, "SetVar", {Text("COUNT"), Int(4)});
    EXPECT_EQ(Call(record, "exist", {Text("color")}).GetText(), "1");
    EXPECT_EQ(Call(record, "VarExist", {Text("COLOR")}).GetText(), "1");
    EXPECT_EQ(Call(record, "Var", {Text("color")}).GetText(), "red");
    EXPECT_EQ(Call(record, "Color").GetText(), "red");
    EXPECT_EQ(Call(record, "count").GetText(), "4");
    EXPECT_EQ(Call(record, "Var", {Text("none"), Text("fallback")}).GetText(), "fallback");

    const std::string undefined =
        "Session variable not defined. Use a set statement to define it: ";
    struct Case {
        const char* member;
        std::initializer_list<CSspValue> args;
        std::string message;
    };
    const Case cases[] = {
        {"SetVar", {Text("a")}, "Incorrect number of parameter."},
        {"SetVar", {Text("a"), Int(1), Int(2)}, "Incorrect number of parameter."},
        {"Var", {}, "Incorrect number of parameter."},
        {"Var", {Text("none")}, undefined + "Var"},
        {"Missing", {}, undefined + "Missing"},
        {"exist", {}, "Missing parameter."},
        {"VarExist", {}, "Missing parameter."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Error(record, c.member, c.args), c.message) << c.member;
    }
}

TEST_F(SessionRecordTest, CipherKeyOfTheSession) {
    CSessionRecord record("42", "", "/", 600, kCreated, 'Q');
    EXPECT_EQ(Error(record, "cipher", {Text("secret text")}), "Call session.createCryptKey first.");
    EXPECT_EQ(Error(record, "decipher", {Text("AAAA")}), "Call session.createCryptKey first.");
    EXPECT_EQ(Call(record, "cipherKeyCreated").GetText(), "0");
    EXPECT_EQ(Call(record, "createCipherKey", {Text("pass")}).GetText(), "1");
    EXPECT_TRUE(record.HasCipherKey());
    EXPECT_EQ(Error(record, "createCipherKey", {Text("other")}),
              "Cipher key already created. Please call destroyCipherKey first.");

    std::string coded = Call(record, "cipher", {Text("secret text")}).GetText();
    EXPECT_NE(coded, "secret text");
    EXPECT_EQ(Call(record, "decipher", {Text(coded)}).GetText(), "secret text");
    EXPECT_EQ(Call(record, "cipher", {Text("")}).GetText(), "");
    EXPECT_EQ(Error(record, "cipher", {Text(std::string(257, 'x'))}),
              "text to be encrypted cannot exceed 256 characters.");

    // Another session's key under the same pass text reads the same ciphertext.
    CSessionRecord other("7", "", "/", 600, kCreated, 'Q');
    Call(other, "createCipherKey", {Text("pass")});
    EXPECT_EQ(Call(other, "decipher", {Text(coded)}).GetText(), "secret text");

    Call(record, "destroyCipherKey");
    EXPECT_EQ(Call(record, "cipherKeyCreated").GetText(), "0");
    EXPECT_EQ(Error(record, "cipher", {Text("x")}), "Call session.createCryptKey first.");
    EXPECT_EQ(Error(record, "createCipherKey"), "Missing parameter.");
}

TEST(SessManFieldTest, FieldsKeepTheirPlaces) {
    struct Case {
        std::string line;
        const char* fields[5];
    };
    const Case cases[] = {
        {"bob\n10.0.0.1\n12/09/2026 08:05AM\n12/09/2026 08:10AM\n/app/",
         {"bob", "10.0.0.1", "12/09/2026 08:05AM", "12/09/2026 08:10AM", "/app/"}},
        // An empty user ID must not move the address into its place.
        {"\n10.0.0.1\nstart\nlast\n/", {"", "10.0.0.1", "start", "last", "/"}},
        {"u\n\n\n\n", {"u", "", "", "", ""}},
        {"u\nip\ns\nl\n/a\nb", {"u", "ip", "s", "l", "/a\nb"}},
        {"only", {"only", "", "", "", ""}},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(CSspSessMan::Field(c.line, i), c.fields[i]) << c.line << " field " << i;
        }
    }
}

}  // namespace
