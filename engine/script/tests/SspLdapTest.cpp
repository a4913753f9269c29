#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/SspValue.h"
#include "engine/script/SspLdap.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/script/tests/LdapTestDirectory.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/Slapd.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Int;
using builtin_test::Text;

namespace {

const char kBase[] = "dc=example,dc=org";
const char kAdmin[] = "cn=admin,dc=example,dc=org";
const char kNeedsInit[] = "Call init function to initialize this LDAP object first.";

class LdapObject : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<CSlapd>(kLdapTestDirectory); }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override { ASSERT_TRUE(s_server->Running()) << "slapd did not start"; }

    CSspValue Do(const char* member, std::initializer_list<CSspValue> args = {}) {
        return Call(m_ldap, "ldap", member, args);
    }
    int DoInt(const char* member, std::initializer_list<CSspValue> args = {}) {
        return Do(member, args).m_integer;
    }
    std::string Error(const char* member, std::initializer_list<CSspValue> args = {}) {
        return CallError(m_ldap, "ldap", member, args);
    }
    void Connect() {
        ASSERT_EQ(DoInt("init", {Text("127.0.0.1"), Int(s_server->Port())}), 1);
        ASSERT_EQ(DoInt("simple_bind_s", {Text(kAdmin), Text("secret")}), 1);
    }
    int Search(const char* base, int scope, const char* filter, const char* attributes = "") {
        return DoInt("search_s", {Text(base), Int(scope), Text(filter), Text(attributes), Int(0)});
    }
    // Moves to the entry whose DN starts with prefix.
    void GoTo(const std::string& prefix) {
        ASSERT_EQ(DoInt("first_entry"), 1);
        while (Do("get_dn").GetText().compare(0, prefix.size(), prefix) != 0) {
            ASSERT_EQ(DoInt("next_entry"), 1) << prefix;
        }
    }

    static std::unique_ptr<CSlapd> s_server;
    CSspLdap m_ldap{"ldap"};
};

std::unique_ptr<CSlapd> LdapObject::s_server;

TEST_F(LdapObject, SearchAndWalk) {
    Connect();
    // Any scope other than 0, 1 and 2 searches the subtree.
    ASSERT_EQ(Search(kBase, 7, "(objectClass=inetOrgPerson)"), 1);
    EXPECT_EQ(DoInt("count_entries"), 2);
    ASSERT_EQ(Search(kBase, 1, "(objectClass=inetOrgPerson)"), 1);
    EXPECT_EQ(DoInt("count_entries"), 0);

    ASSERT_EQ(Search(kBase, 2, "(objectClass=inetOrgPerson)"), 1);
    GoTo("uid=ann,");
    EXPECT_EQ(Do("get_dn").GetText(), "uid=ann,ou=people,dc=example,dc=org");
    ASSERT_EQ(DoInt("get_values", {Text("cn")}), 2);
    EXPECT_EQ(DoInt("count_values"), 2);
    std::set<std::string> names{Do("value", {Int(0)}).GetText(), Do("value", {Int(1)}).GetText()};
    EXPECT_EQ(names, (std::set<std::string>{"Ann Smith", "Annie"}));
    EXPECT_EQ(Error("value", {Int(2)}), "ldap.value(index) index out of bound.");
    EXPECT_EQ(Error("value", {Int(-1)}), "ldap.value(index) index out of bound.");

    ASSERT_EQ(DoInt("get_values_len", {Text("jpegPhoto")}), 1);
    CSspValue photo = Do("value", {Int(0)});
    EXPECT_EQ(photo.m_type, kSqlVarBinary);
    EXPECT_EQ(photo.GetText(), CSspValue::FromBinary(std::string("\0\1\2\xff", 4)).GetText());

    EXPECT_EQ(DoInt("get_values", {Text("mail")}), -1);
    EXPECT_EQ(Error("count_values"), "No current values. Call ldap.get_values(name) first.");

    // The walk ends, and then there is no current entry.
    while (DoInt("next_entry") == 1) {
    }
    EXPECT_EQ(Error("get_dn"),
              "No current entry. Call ldap.get_first_entry or ldap.get_next_entry first.");
}

TEST_F(LdapObject, AttributeListAndCodePage) {
    Connect();
    ASSERT_EQ(Search(kBase, 2, "(uid=ann)", "sn, ,cn"), 1);
    ASSERT_EQ(DoInt("first_entry"), 1);
    EXPECT_EQ(Error("next_attribute"),
              "No current attribute. Call ldap.get_first_attribute first.");
    std::set<std::string> attributes;
    for (std::string name = Do("first_attribute").GetText(); !name.empty();
         name = Do("next_attribute").GetText()) {
        attributes.insert(name);
    }
    EXPECT_EQ(attributes, (std::set<std::string>{"cn", "sn"}));

    // The page's bytes go out as UTF-8 and come back in the page's code page.
    ASSERT_EQ(Search(kBase, 2, "(cn=Jos\xE9)"), 1);
    ASSERT_EQ(DoInt("count_entries"), 1);
    ASSERT_EQ(DoInt("first_entry"), 1);
    ASSERT_EQ(DoInt("get_values", {Text("cn")}), 1);
    EXPECT_EQ(Do("value", {Int(0)}).GetText(), "Jos\xE9");
    EXPECT_EQ(Do("get_host_name").GetText(), "127.0.0.1");
}

TEST_F(LdapObject, FailuresGiveTheirCodes) {
    Connect();
    CSspLdap other("other");
    EXPECT_EQ(Search("ou=nobody,dc=example,dc=org", 2, "(cn=*)"), 0);
    EXPECT_EQ(DoInt("last_err_code"), 32);
    EXPECT_NE(Do("last_err_str").GetText(), "");
    // The error belongs to the object that met it.
    EXPECT_EQ(Call(other, "other", "last_err_code").m_integer, 0);

    EXPECT_EQ(DoInt("simple_bind_s", {Text(kAdmin), Text("wrong")}), 0);
    EXPECT_EQ(DoInt("last_err_code"), 49);
    // An empty password would be an unauthenticated bind that succeeds.
    EXPECT_EQ(DoInt("simple_bind_s", {Text(kAdmin), Text("")}), 0);
    EXPECT_EQ(DoInt("last_err_code"), 49);
    EXPECT_EQ(DoInt("bind_s", {Text("admin"), Text("example.org"), Text("")}), 0);
    EXPECT_EQ(DoInt("last_err_code"), 49);

    EXPECT_EQ(DoInt("set_size_limit", {Int(-1)}), 0);
    EXPECT_EQ(DoInt("set_size_limit", {Int(1)}), 1);
    EXPECT_EQ(Search(kBase, 2, "(objectClass=*)"), 0);
    EXPECT_EQ(DoInt("last_err_code"), 4);
    EXPECT_EQ(DoInt("set_time_limit", {Int(5)}), 1);
    EXPECT_EQ(DoInt("search_st",
                    {Text(kBase), Int(0), Text("(objectClass=*)"), Text(""), Int(1), Int(5)}),
              1);

    int closed = FreeLoopbackPort();
    ASSERT_EQ(Call(other, "other", "init", {Text("127.0.0.1"), Int(closed)}).m_integer, 1);
    EXPECT_EQ(Call(other, "other", "simple_bind_s", {Text(kAdmin), Text("secret")}).m_integer, 0);
    EXPECT_EQ(Call(other, "other", "last_err_code").m_integer, 81);
}

TEST_F(LdapObject, TimedSearchLimits) {
    Connect();
    struct Case {
        const char* m_seconds;
        int m_result;
        int m_code;
        int m_entries;  // count_entries after it: 1 while the earlier result stays
    };
    // 0 seconds is no limit at all; a negative limit is refused before any search.
    // Beyond the integer range a limit stays as far out as it can go.
    const Case cases[] = {{"0", 1, 0, 2},   {"30", 1, 0, 2},   {"4294967296", 1, 0, 2},
                          {"-1", 0, 89, 1}, {"-30", 0, 89, 1}, {"-4294967296", 0, 89, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_seconds);
        ASSERT_EQ(Search(kBase, 2, "(uid=ann)"), 1);
        EXPECT_EQ(DoInt("search_st", {Text(kBase), Int(2), Text("(objectClass=inetOrgPerson)"),
                                      Text("uid"), Int(0), Text(c.m_seconds)}),
                  c.m_result);
        EXPECT_EQ(DoInt("last_err_code"), c.m_code);
        EXPECT_EQ(DoInt("count_entries"), c.m_entries);
        if (c.m_code == 89) {
            EXPECT_EQ(Do("last_err_str").GetText(), "Bad parameter to an ldap routine");
        }
    }
}

TEST_F(LdapObject, LimitsBeyondTheIntegerRangeDoNotWrap) {
    Connect();
    for (const char* member : {"set_size_limit", "set_time_limit"}) {
        SCOPED_TRACE(member);
        EXPECT_EQ(DoInt(member, {Text("4294967296")}), 1);
        EXPECT_EQ(Search(kBase, 2, "(objectClass=inetOrgPerson)"), 1);
        EXPECT_EQ(DoInt("count_entries"), 2);
    }
    EXPECT_EQ(DoInt("set_size_limit", {Text("-4294967295")}), 0);
}

TEST_F(LdapObject, ReleasedHandlesAreNeverUsed) {
    Connect();
    ASSERT_EQ(Search(kBase, 2, "(uid=ann)"), 1);
    ASSERT_EQ(DoInt("first_entry"), 1);
    ASSERT_NE(Do("first_attribute").GetText(), "");
    ASSERT_EQ(DoInt("get_values", {Text("cn")}), 2);

    EXPECT_EQ(DoInt("msgfree"), 1);
    const std::string noEntry =
        "No current entry. Call ldap.get_first_entry or ldap.get_next_entry first.";
    EXPECT_EQ(Error("next_entry"), noEntry);
    EXPECT_EQ(Error("next_attribute"), noEntry);
    EXPECT_EQ(Error("first_entry"),
              "No search result. Call ldap.search_s or ldap.search_st first.");
    // Values are the object's own copies and outlive the result.
    EXPECT_EQ(DoInt("count_values"), 2);
    EXPECT_EQ(DoInt("value_free"), 1);
    EXPECT_EQ(Error("value", {Int(0)}), "No current values. Call ldap.get_values(name) first.");
    EXPECT_EQ(DoInt("msgfree"), 1);

    ASSERT_EQ(Search(kBase, 2, "(uid=ann)"), 1);
    ASSERT_EQ(DoInt("first_entry"), 1);
    EXPECT_EQ(DoInt("unbind"), 1);
    EXPECT_EQ(Error("search_s", {Text(kBase), Int(2), Text("(cn=*)"), Text(""), Int(0)}),
              kNeedsInit);
    EXPECT_EQ(DoInt("unbind"), 1);
    EXPECT_EQ(DoInt("msgfree"), 1);
    m_ldap.ReleaseAll();
    m_ldap.ReleaseAll();
    EXPECT_FALSE(m_ldap.IsConnected());

    // A new init replaces the connection and drops the old result.
    Connect();
    ASSERT_EQ(Search(kBase, 2, "(uid=ann)"), 1);
    Connect();
    EXPECT_EQ(Error("count_entries"),
              "No search result. Call ldap.search_s or ldap.search_st first.");
}

TEST(LdapObjectCalls, StateAndArgumentErrors) {
    CSspLdap ldap("ldap");
    struct Case {
        const char* m_member;
        std::initializer_list<CSspValue> m_args;
        const char* m_error;
    };
    const std::string noValues = "No current values. Call ldap.get_values(name) first.";
    const Case cases[] = {
        {"search_s", {Text(kBase), Int(2), Text("(cn=*)"), Text(""), Int(0)}, kNeedsInit},
        {"simple_bind_s", {}, kNeedsInit},
        {"first_entry", {}, kNeedsInit},
        {"get_host_name", {}, kNeedsInit},
        {"set_size_limit", {Int(1)}, kNeedsInit},
        {"count_values", {}, noValues.c_str()},
        {"value", {Int(0)}, noValues.c_str()},
        {"value", {}, "Missing parameter."},
        {"frob", {}, "Unknown function or field.frob"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_member);
        EXPECT_EQ(CallError(ldap, "ldap", c.m_member, c.m_args), c.m_error);
    }
    for (const char* member : {"value_free", "msgfree", "unbind"}) {
        EXPECT_EQ(Call(ldap, "ldap", member).m_integer, 1) << member;
    }
    EXPECT_EQ(Call(ldap, "ldap", "last_err_code").m_integer, 0);

    ASSERT_EQ(Call(ldap, "ldap", "init", {Text("127.0.0.1"), Int(FreeLoopbackPort())}).m_integer,
              1);
    const Case argumentCases[] = {
        {"bind_s", {Text("a"), Text("b")}, "Missing parameter."},
        {"simple_bind_s", {Text("a")}, "Missing parameter."},
        {"search_s", {Text(kBase), Int(2), Text("(cn=*)"), Text("")}, "Missing parameter."},
        {"search_st",
         {Text(kBase), Int(2), Text("(cn=*)"), Text(""), Int(0)},
         "Missing parameter."},
        {"get_values", {}, "Missing parameter."},
        {"set_time_limit", {}, "Missing parameter."},
        {"first_entry", {}, "No search result. Call ldap.search_s or ldap.search_st first."},
        {"count_entries", {}, "No search result. Call ldap.search_s or ldap.search_st first."},
        {"get_values",
         {Text("cn")},
         "No current entry. Call ldap.get_first_entry or ldap.get_next_entry first."},
    };
    for (const Case& c : argumentCases) {
        SCOPED_TRACE(c.m_member);
        EXPECT_EQ(CallError(ldap, "ldap", c.m_member, c.m_args), c.m_error);
    }
}

TEST(LdapObjectCalls, CodesAndCodePage) {
    const std::pair<int, int> codes[] = {{-1, 81}, {-5, 85}, {-7, 87}, {-11, 91}, {-17, 97},
                                         {0, 0},   {32, 32}, {49, 49}, {-18, -18}};
    for (const auto& [openLdap, windows] : codes) {
        EXPECT_EQ(CSspLdap::WindowsErrorCode(openLdap), windows) << openLdap;
    }
    const std::pair<const char*, const char*> texts[] = {
        {"plain", "plain"},
        {"Jos\xE9", "Jos\xC3\xA9"},
        {"\x80 \x9F", "\xE2\x82\xAC \xC5\xB8"},
        {"\x81", "\xC2\x81"},
    };
    for (const auto& [page, utf8] : texts) {
        EXPECT_EQ(CSspLdap::PageToUtf8(page), utf8);
        EXPECT_EQ(CSspLdap::Utf8ToPage(utf8), page);
    }
    // What the code page cannot hold comes back as '?'; bytes that are not UTF-8 stay.
    EXPECT_EQ(CSspLdap::Utf8ToPage("\xE4\xB8\xAD!"), "?!");
    EXPECT_EQ(CSspLdap::Utf8ToPage("\xE9t\xE9"), "\xE9t\xE9");
}

}  // namespace
