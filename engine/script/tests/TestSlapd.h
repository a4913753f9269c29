// A slapd of the LDAP tests' own, on 127.0.0.1, with an mdb database in a
// temporary folder loaded with a small directory under dc=example,dc=org
// (root "cn=admin,dc=example,dc=org" / "secret"; the people ann, jose and the
// password holder "cn=ann@example.org,ou=people,dc=example,dc=org" / "annpw").
#pragma once

#include <sys/types.h>

#include <string>

// A free port on 127.0.0.1 (free when asked).
int FreeLoopbackPort();

class CTestSlapd {
public:
    // With tls, a self-signed certificate for 127.0.0.1 is made, slapd answers
    // StartTLS on its plain port and ldaps:// on a second one, and refuses
    // simple binds that are not under TLS.
    explicit CTestSlapd(bool tls = false);
    ~CTestSlapd();
    CTestSlapd(const CTestSlapd&) = delete;
    CTestSlapd& operator=(const CTestSlapd&) = delete;

    bool Running() const;
    int Port() const { return m_port; }
    int LdapsPort() const { return m_ldapsPort; }
    // The certificate that clients must trust (tls only).
    std::string CaFile() const { return m_folder + "/cert.pem"; }

private:
    std::string m_folder;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_ldapsPort = 0;
};
