// bind_s(user, domain, password) sends the password only under TLS.
#include <ldap.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/foundation/SocketConn.h"
#include "engine/script/SspLdap.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/script/tests/LdapTestDirectory.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/Slapd.h"

using builtin_test::Call;
using builtin_test::Int;
using builtin_test::Text;

namespace {

// slapd reads "cn=ann" + "@" + this as the DN of the password holder.
const char kDomain[] = "example.org,ou=people,dc=example,dc=org";
const char kPassword[] = "annpw";
const char kStartTlsOid[] = "1.3.6.1.4.1.1466.20037";

struct BindOutcome {
    int m_result;
    int m_code;
    std::string m_text;
};

// init or sslinit on port, then bind_s("cn=ann", kDomain, password).
BindOutcome Bind(const char* init, int port, const char* password = kPassword) {
    CSspLdap ldap("ldap");
    EXPECT_EQ(Call(ldap, "ldap", init, {Text("127.0.0.1"), Int(port)}).m_integer, 1);
    BindOutcome out;
    out.m_result =
        Call(ldap, "ldap", "bind_s", {Text("cn=ann"), Text(kDomain), Text(password)}).m_integer;
    out.m_code = Call(ldap, "ldap", "last_err_code").m_integer;
    out.m_text = Call(ldap, "ldap", "last_err_str").GetText();
    return out;
}

// An LDAP peer without TLS: answers the first request (StartTLS) with
// protocolError and keeps every byte that arrives until the client leaves.
class CCapturingPeer {
public:
    CCapturingPeer() {
        m_listener.Listen("127.0.0.1", 0);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CCapturingPeer() {
        m_listener.Shutdown();  // frees the thread if no client came
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int Port() const { return m_listener.GetLocalPort(); }
    // Everything received; waits for the client to close.
    std::string Received() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_received;
    }

private:
    void Serve() {
        CSocketConn conn;
        if (!m_listener.Accept(conn)) {
            return;
        }
        conn.SetTimeout(10);
        char buffer[4096];
        bool answered = false;
        long n;
        while ((n = conn.Receive(buffer, sizeof buffer)) > 0) {
            m_received.append(buffer, static_cast<size_t>(n));
            std::string reply;
            if (!answered && RefusalOf(m_received, &reply)) {
                answered = conn.Send(reply);
            }
        }
    }
    // An extended response with resultCode protocolError (2) to the message
    // whose ID the request carries; false until the ID has arrived.
    static bool RefusalOf(const std::string& request, std::string* reply) {
        size_t at = 2;  // after the SEQUENCE tag and a one-byte length
        if (request.size() < at) {
            return false;
        }
        if ((static_cast<unsigned char>(request[1]) & 0x80) != 0) {
            at += static_cast<unsigned char>(request[1]) & 0x7F;
        }
        if (request.size() < at + 2) {
            return false;
        }
        size_t idField = 2 + static_cast<unsigned char>(request[at + 1]);
        if (request.size() < at + idField) {
            return false;
        }
        std::string body =
            request.substr(at, idField) + std::string("\x78\x07\x0a\x01\x02\x04\x00\x04\x00", 9);
        *reply = std::string("\x30", 1) + static_cast<char>(body.size()) + body;
        return true;
    }

    CSocketConn m_listener;
    std::thread m_thread;
    std::string m_received;
};

TEST(LdapUserBind, PlainConnectionSendsNoPassword) {
    std::string received;
    {
        CCapturingPeer peer;
        BindOutcome out = Bind("init", peer.Port());
        EXPECT_EQ(out.m_result, 0);
        EXPECT_EQ(out.m_code, LDAP_CONFIDENTIALITY_REQUIRED);
        EXPECT_EQ(out.m_text, "Confidentiality required");
        received = peer.Received();
    }
    // TLS was asked for; neither the name nor the password went out.
    EXPECT_NE(received.find(kStartTlsOid), std::string::npos);
    EXPECT_EQ(received.find(kPassword), std::string::npos);
    EXPECT_EQ(received.find("cn=ann@"), std::string::npos);
}

TEST(LdapUserBind, DirectoryWithoutTlsRefusesNothingIsSent) {
    CSlapd plain(kLdapTestDirectory);
    ASSERT_TRUE(plain.Running()) << "slapd did not start";
    BindOutcome out = Bind("init", plain.Port());
    EXPECT_EQ(out.m_result, 0);
    EXPECT_EQ(out.m_code, LDAP_CONFIDENTIALITY_REQUIRED);
    // A server that cannot be reached keeps its own code.
    EXPECT_EQ(Bind("init", FreeLoopbackPort()).m_code, 81);
}

class LdapTlsBind : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<CSlapd>(kLdapTestDirectory, true);
        // New connections trust the test's certificate, and only it.
        std::string ca = s_server->CaFile();
        ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, ca.c_str());
        int client = 0;
        ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &client);
    }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override { ASSERT_TRUE(s_server->Running()) << "slapd did not start"; }

    static std::unique_ptr<CSlapd> s_server;
};

std::unique_ptr<CSlapd> LdapTlsBind::s_server;

TEST_F(LdapTlsBind, StartTlsOrLdapsCarryTheBind) {
    struct Case {
        const char* m_init;
        bool m_ldaps;
        const char* m_password;
        int m_result;
        int m_code;
    };
    // The directory refuses simple binds outside TLS, so a success was under TLS.
    const Case cases[] = {
        {"init", false, kPassword, 1, 0},
        {"sslinit", true, kPassword, 1, 0},
        {"init", false, "wrong", 0, 49},
        {"sslinit", true, "wrong", 0, 49},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.m_init) + " " + c.m_password);
        BindOutcome out =
            Bind(c.m_init, c.m_ldaps ? s_server->LdapsPort() : s_server->Port(), c.m_password);
        EXPECT_EQ(out.m_result, c.m_result);
        EXPECT_EQ(out.m_code, c.m_code) << out.m_text;
    }
}

}  // namespace
