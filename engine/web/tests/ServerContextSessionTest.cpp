// Sessions end to end: logon through a page, the cookies a browser gets, and what later pages
// presenting them (or not) see.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/UrlCodec.h"
#include "engine/script/SessionRecord.h"
#include "engine/web/tests/ContextTestSupport.h"

using context_test::ContextTest;
using context_test::kStart;
using context_test::PageResult;

namespace {

class SessionPageTest : public ContextTest {
protected:
    // Logs `user` on and returns the logon page's result.
    PageResult Logon(const std::string& user) {
        return Run("--{ Session.logon('" + user + "'); }--", "/logon.zrp");
    }
};

const char kTerminatedTail[] =
    ") has been terminated. Please log on again. Possible reasons: It has expired; It has been "
    "terminated by a manager; The server has been restarted; You have multiple sessions on this "
    "machine and you have logged off from one of them.";

TEST_F(SessionPageTest, LogonMakesTheIdAndItsCookies) {
    PageResult r = Logon("42");
    ASSERT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, "1");
    std::string id = r.Cookie("sspSessionID");
    ASSERT_EQ(id.size(), 15u);
    EXPECT_TRUE(id[0] >= 'A' && id[0] <= 'Z') << id;
    EXPECT_EQ(id.substr(2), "]L09080507-42");
    std::string secret = r.Cookie("sspSessionKey");
    EXPECT_EQ(secret.size(), 32u);
    EXPECT_EQ(secret.find_first_not_of("0123456789abcdef"), std::string::npos) << secret;
    // The ID as the response encodes it (']' is "%5d"), then the secret, HttpOnly.
    EXPECT_EQ(r.m_cookieHeaders, "Set-Cookie: sspSessionID=" + id.substr(0, 2) +
                                     "%5dL09080507-42; path=/\r\nSet-Cookie: sspSessionKey=" +
                                     secret + "; path=/; HttpOnly\r\n");
    EXPECT_EQ(m_context->SessionCount(), 1u);
}

// The key cookie is marked Secure on a TLS connection only; the ID cookie never is.
TEST_F(SessionPageTest, KeyCookieIsSecureOverTls) {
    CSessionRecord session("42", "10.1.2.3", "/", 600, kStart, 'Q');
    for (bool tls : {false, true}) {
        CSocketConn conn;
        conn.SetSslOn(tls);
        CHttpResponse response(&conn);
        m_link->SetSessionCookies(response, session, "/app/");
        EXPECT_EQ(response.BuildCookieHeaders(),
                  "Set-Cookie: sspSessionID=" + UrlEncode(session.GetSessionId()) +
                      "; path=/app/\r\nSet-Cookie: sspSessionKey=" + session.GetSecret() +
                      "; path=/app/; HttpOnly" + (tls ? "; Secure" : "") + "\r\n")
            << tls;
    }
}

TEST_F(SessionPageTest, ValidityAcrossTimeAndCookies) {
    PageResult logon = Logon("42");
    ASSERT_EQ(logon.m_code, 0) << logon.m_error;
    std::string id = logon.Cookie("sspSessionID");
    std::string secret = logon.Cookie("sspSessionKey");
    std::string otherSecret(32, '0');
    std::string badCheck = id;
    badCheck[1] = badCheck[1] == 'Z' ? 'Y' : static_cast<char>(badCheck[1] + 1);
    const std::string both = "sspSessionID=" + id + "; sspSessionKey=" + secret;
    struct Case {
        const char* what;
        std::string cookies;
        std::time_t at;
        const char* valid;
    };
    const Case cases[] = {
        {"fresh", both, kStart, "1"},
        {"600 minutes", both, kStart + 600 * 60, "1"},
        {"601 minutes", both, kStart + 601 * 60, "0"},
        {"no cookie", "", kStart, "0"},
        {"ID without its secret", "sspSessionID=" + id, kStart, "0"},
        {"another secret", "sspSessionID=" + id + "; sspSessionKey=" + otherSecret, kStart, "0"},
        {"changed check letter", "sspSessionID=" + badCheck + "; sspSessionKey=" + secret, kStart,
         "0"},
    };
    for (const Case& c : cases) {
        m_now = c.at;
        PageResult r = Run("--{ Session.IsValid; }--", "/page.zrp", c.cookies);
        EXPECT_EQ(r.m_code, 0) << c.what << ": " << r.m_error;
        EXPECT_EQ(r.m_output, c.valid) << c.what;
    }
    m_now = kStart;

    PageResult none = Run("--{ Session.Var('x'); }--");
    EXPECT_EQ(none.m_code, 1);
    EXPECT_TRUE(
        none.m_error.ends_with("\r\n\r\nYour browser did not send your Session ID. "
                               "Possible reasons: (1) You have not logged on to this "
                               "application yet; (2) Your browser is set to reject "
                               "cookies; (3) The name of the server computer contains "
                               "non-standard characters such as an underscore. To fix the "
                               "problem, please log on, enable your browser to accept "
                               "cookies or rename the server computer using letters "
                               "[aA-zZ], digits [0-9] and hyphens [-] only."))
        << none.m_error;

    // Not found: the text stands alone, without a position.
    PageResult stolen = Run("--{ Session.Var('x'); }--", "/page.zrp", "sspSessionID=" + id);
    EXPECT_EQ(stolen.m_code, 1);
    EXPECT_EQ(stolen.m_error,
              "Your session (12/09/2026 08:05AM - 42" + std::string(kTerminatedTail));

    // The ID alone in a form field finds nothing either.
    PageResult field = Run("--{ Session.IsValid; }--", "/page.zrp?sspSessionID=" + id);
    EXPECT_EQ(field.m_output, "0");
}

TEST_F(SessionPageTest, VariablesLiveWithTheSession) {
    PageResult logon =
        Run("<!--{ Session.logon('ann'); Session.SetVar('Cart', 3); }-->--{ Session.cart; }--",
            "/logon.zrp");
    ASSERT_EQ(logon.m_code, 0) << logon.m_error;
    EXPECT_EQ(logon.m_output, "3");
    std::string cookies = logon.SessionCookies();
    PageResult later =
        Run("--{ Session.Var('CART'); }--|--{ Session.exist(cart); }--|--{ Session.SessionID; }--",
            "/shop/p.zrp", cookies);
    EXPECT_EQ(later.m_code, 0) << later.m_error;
    EXPECT_EQ(later.m_output, "3|1|" + logon.Cookie("sspSessionID"));
    // Another user's session does not see it.
    PageResult other = Logon("bob");
    EXPECT_EQ(
        Run("--{ Session.Var('cart', 'empty'); }--", "/p.zrp", other.SessionCookies()).m_output,
        "empty");
}

TEST_F(SessionPageTest, LogonForms) {
    struct Case {
        const char* call;
        int code;
        const char* output;
        std::string error;  // the whole text for the position-less ones, else its end
    };
    const Case cases[] = {
        {"Session.logon('u', 'typed', 'found', 'typed')", 0, "1", ""},
        {"Session.logon('u', 'typed', '', 'other')", 1, "", "User not found."},
        {"Session.logon('u', 'typed', 'found', 'Typed')", 1, "", "Password incorrect."},
        {"Session.logon('u', 'a', 'b')", 1, "", "Missing parameter."},
        {"Session.logon('u', '/app/')", 0, "1", ""},
    };
    for (const Case& c : cases) {
        PageResult r = Run(std::string("--{ ") + c.call + "; }--");
        EXPECT_EQ(r.m_code, c.code) << c.call << ": " << r.m_error;
        EXPECT_EQ(r.m_output, c.output) << c.call;
        if (c.error == "Missing parameter.") {
            EXPECT_TRUE(r.m_error.ends_with("\r\n\r\n" + c.error)) << r.m_error;
        } else {
            EXPECT_EQ(r.m_error, c.error) << c.call;
        }
    }
    PageResult app = Run("--{ Session.logon('v', '/app/'); }--");
    EXPECT_NE(app.m_cookieHeaders.find("sspSessionKey=" + app.Cookie("sspSessionKey") +
                                       "; path=/app/; HttpOnly"),
              std::string::npos)
        << app.m_cookieHeaders;
}

TEST_F(SessionPageTest, LogonOverASessionAndLogoff) {
    PageResult first = Logon("ann");
    ASSERT_EQ(m_context->SessionCount(), 1u);
    // A logon over the session the run has attached replaces it; one it was only sent
    // does not count.
    PageResult again =
        Run("--{ Session.IsValid; }--<!--{ Session.logon('ann'); }-->--{ Session.SessionID; }--",
            "/logon.zrp", first.SessionCookies());
    EXPECT_EQ(again.m_code, 0) << again.m_error;
    EXPECT_EQ(again.m_output, "1" + again.Cookie("sspSessionID"));
    EXPECT_EQ(m_context->SessionCount(), 1u);
    EXPECT_EQ(Run("--{ Session.IsValid; }--", "/p.zrp", first.SessionCookies()).m_output, "0");

    // After logoff the run keeps its session; later runs do not find it.
    PageResult off =
        Run("--{ Session.Logoff; }--|--{ Session.IsValid; }--", "/p.zrp", again.SessionCookies());
    EXPECT_EQ(off.m_code, 0) << off.m_error;
    EXPECT_EQ(off.m_output, "1|1");
    EXPECT_EQ(m_context->SessionCount(), 0u);
    EXPECT_EQ(Run("--{ Session.Logoff; }--", "/p.zrp", again.SessionCookies()).m_output, "0");
}

TEST_F(SessionPageTest, SessionNeedsARequest) {
    PageResult r = Run("--{ Session.IsValid; }--", "/p.zrp", "", false);
    EXPECT_EQ(r.m_code, 1);
    EXPECT_TRUE(r.m_error.ends_with("Session object can only be used in .zrp files.")) << r.m_error;
}

TEST_F(SessionPageTest, SessManListsSortedAndRemoves) {
    for (const char* user : {"bob", "Alice", "carl"}) {
        ASSERT_EQ(Logon(user).m_code, 0);
    }
    PageResult list =
        Run("<!--{ SessMan.PrepareForFetch(); while (SessMan.fetch() == 1) }-->"
            "--{ SessMan.USER_ID; }--@--{ SessMan.IP_ADDRESS; }--@--{ SessMan.APP_PATH; }--;"
            "<!--{ endwhile }-->--{ SessMan.fetch(); }--");
    EXPECT_EQ(list.m_code, 0) << list.m_error;
    EXPECT_EQ(list.m_output, "Alice@10.1.2.3@/;bob@10.1.2.3@/;carl@10.1.2.3@/;0");

    PageResult times =
        Run("<!--{ SessMan.PrepareForFetch(); SessMan.fetch(); }-->--{ SessMan.START_TIME; }--|"
            "--{ SessMan.LAST_ACCESS; }--");
    EXPECT_EQ(times.m_output, "12/09/2026 08:05AM|12/09/2026 08:05AM");

    struct Case {
        const char* page;
        const char* message;
    };
    const Case cases[] = {
        {"<!--{ SessMan.PrepareForFetch(); }-->--{ SessMan.USER_ID; }--",
         "Session information out of bound. You should check the return value of SessMan.fetch."},
        {"--{ SessMan.IP_ADDRESS; }--",
         "Session information out of bound. You should check the return value of SessMan.fetch."},
        {"--{ SessMan.nothing; }--", "Unknown SessMan field."},
        {"--{ SessMan.Remove(); }--", "Missing parameter."},
    };
    for (const Case& c : cases) {
        PageResult e = Run(c.page);
        EXPECT_EQ(e.m_code, 1) << c.page;
        EXPECT_TRUE(e.m_error.ends_with(std::string("\r\n\r\n") + c.message)) << e.m_error;
    }

    ASSERT_EQ(Run("<!--{ SessMan.Remove('BOB'); }-->").m_code, 0);
    EXPECT_EQ(m_context->SessionCount(), 2u);
    PageResult two =
        Run("<!--{ SessMan.PrepareForFetch(); }-->--{ SessMan.fetch(); }----{ SessMan.fetch(); "
            "}----{ SessMan.fetch(); }--");
    EXPECT_EQ(two.m_output, "110");
}

TEST_F(SessionPageTest, EmptyUserIdKeepsTheOtherFields) {
    ASSERT_EQ(Logon("").m_code, 0);
    PageResult r =
        Run("<!--{ SessMan.PrepareForFetch(); SessMan.fetch(); }-->[--{ SessMan.USER_ID; }--]"
            "--{ SessMan.IP_ADDRESS; }--");
    EXPECT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, "[]10.1.2.3");
}

TEST_F(SessionPageTest, SweepDropsOnlyLeadingExpiredSessions) {
    m_settings->GeneralSessionTimeout = 30;
    m_context->CreateSession("old", "", "/");
    m_now = kStart + 20 * 60;
    m_context->CreateSession("mid", "", "/");
    m_now = kStart + 31 * 60;  // "old" has expired, "mid" has not
    m_context->CreateSession("new", "", "/");
    std::vector<std::string> lines = m_context->ListSessions();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with("mid\n"));
    EXPECT_TRUE(lines[1].starts_with("new\n"));
}

TEST_F(SessionPageTest, IdsStayUniqueWithinOneSecond) {
    std::set<std::string> ids;
    for (int i = 0; i < 60; ++i) {
        CSessionRef s = m_context->CreateSession("same", "", "/");
        EXPECT_TRUE(ids.insert(s->GetSessionId()).second) << s->GetSessionId();
        EXPECT_FALSE(s->IsExpired(600, m_now));
    }
    EXPECT_EQ(m_context->SessionCount(), 60u);
}

}  // namespace
