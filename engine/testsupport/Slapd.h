// OpenLDAP's slapd on 127.0.0.1 (a free port) with an mdb database in a temporary folder:
// suffix "dc=example,dc=org", root "cn=admin,dc=example,dc=org" with password "secret",
// loaded with the entries of an LDIF text. With tls, a self-signed certificate for 127.0.0.1
// is made, slapd answers StartTLS on its plain port and ldaps:// on a second one, and refuses
// simple binds that are not under TLS.
#pragma once

#include <string>

#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/TempFolder.h"

class CSlapd {
public:
    explicit CSlapd(const std::string& ldif, bool tls = false);
    ~CSlapd();
    CSlapd(const CSlapd&) = delete;
    CSlapd& operator=(const CSlapd&) = delete;

    bool Running() const;
    int Port() const { return m_port; }
    int LdapsPort() const { return m_ldapsPort; }
    // The certificate that clients must trust (tls only).
    std::string CaFile() const { return m_folder.Path() + "/cert.pem"; }

private:
    CTempFolder m_folder;
    CChildProcess m_slapd;
    int m_port = 0;
    int m_ldapsPort = 0;
};
