#include "engine/testsupport/Slapd.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/testsupport/LoopbackPort.h"

CSlapd::CSlapd(const std::string& ldif, bool tls) {
    const std::string& folder = m_folder.Path();
    std::filesystem::create_directories(folder + "/db");
    std::string keyFile = folder + "/key.pem";
    std::string certFile = CaFile();
    if (tls && CChildProcess::Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                   "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", keyFile,
                                   "-out", certFile, "-days", "2", "-subj", "/CN=127.0.0.1",
                                   "-addext", "subjectAltName=IP:127.0.0.1"}) != 0) {
        return;
    }
    std::ofstream conf(folder + "/slapd.conf");
    conf << "include /etc/ldap/schema/core.schema\n"
            "include /etc/ldap/schema/cosine.schema\n"
            "include /etc/ldap/schema/inetorgperson.schema\n"
         << "pidfile " << folder << "/slapd.pid\n";
    if (tls) {
        conf << "TLSCertificateFile " << certFile << "\nTLSCertificateKeyFile " << keyFile
             << "\nsecurity simple_bind=64\n";
    }
    conf << "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
            "database mdb\nsuffix \"dc=example,dc=org\"\nrootdn \"cn=admin,dc=example,dc=org\"\n"
            "rootpw secret\nmaxsize 10485760\n"
         << "directory " << folder << "/db\n";
    conf.close();
    std::ofstream(folder + "/data.ldif") << ldif;
    std::string confFile = folder + "/slapd.conf";
    std::string data = folder + "/data.ldif";
    if (CChildProcess::Run({"/usr/sbin/slapadd", "-q", "-f", confFile, "-l", data}) != 0) {
        return;
    }
    m_port = FreeLoopbackPort();
    std::string urls = "ldap://127.0.0.1:" + std::to_string(m_port) + "/";
    if (tls) {
        do {
            m_ldapsPort = FreeLoopbackPort();
        } while (m_ldapsPort == m_port);
        urls += " ldaps://127.0.0.1:" + std::to_string(m_ldapsPort) + "/";
    }
    m_slapd = CChildProcess({"/usr/sbin/slapd", "-d", "0", "-h", urls, "-f", confFile});
    for (int i = 0; m_slapd.Started() && i < 250 && !Running(); ++i) {
        usleep(20000);
    }
}

CSlapd::~CSlapd() {
    m_slapd.Stop(SIGTERM);
}

bool CSlapd::Running() const {
    return m_slapd.Started() && LoopbackAccepts(m_port) &&
           (m_ldapsPort == 0 || LoopbackAccepts(m_ldapsPort));
}
