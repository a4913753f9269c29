// OpenLDAP's slapd on 127.0.0.1 (a free port) with an mdb database in a temporary folder:
// suffix "dc=example,dc=org", root "cn=admin,dc=example,dc=org" with password "secret",
// loaded with the entries of an LDIF text.
#pragma once

#include <sys/types.h>

#include <string>

#include "engine/testsupport/TempFolder.h"

class CSlapd {
public:
    explicit CSlapd(const std::string& ldif);
    ~CSlapd();
    CSlapd(const CSlapd&) = delete;
    CSlapd& operator=(const CSlapd&) = delete;

    bool Running() const;
    int Port() const { return m_port; }

private:
    CTempFolder m_folder;
    pid_t m_pid = -1;
    int m_port = 0;
};
