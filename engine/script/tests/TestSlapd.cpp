#include "engine/script/tests/TestSlapd.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <vector>

#include "engine/foundation/SocketConn.h"

extern char** environ;

namespace {

const char kLdif[] =
    "dn: dc=example,dc=org\n"
    "objectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n\n"
    "dn: ou=people,dc=example,dc=org\nobjectClass: organizationalUnit\nou: people\n\n"
    "dn: uid=ann,ou=people,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: ann\n"
    "cn: Ann Smith\ncn: Annie\nsn: Smith\njpegPhoto:: AAEC/w==\n\n"
    // cn is "José" in UTF-8.
    "dn: uid=jose,ou=people,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: jose\n"
    "cn:: Sm9zw6k=\nsn: Garcia\n\n"
    // slapd takes only DNs as simple-bind names: this one reads as user@domain.
    "dn: cn=ann@example.org,ou=people,dc=example,dc=org\nobjectClass: person\n"
    "cn: ann@example.org\nsn: Smith\nuserPassword: annpw\n";

bool CanConnect(int port) {
    CSocketConn probe;
    probe.SetTimeout(2);
    return probe.Connect("127.0.0.1", port);
}

pid_t Spawn(std::initializer_list<const char*> args) {
    std::vector<char*> argv;
    for (const char* arg : args) {
        argv.push_back(const_cast<char*>(arg));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

bool RunToEnd(std::initializer_list<const char*> args) {
    int status = -1;
    pid_t pid = Spawn(args);
    return pid > 0 && waitpid(pid, &status, 0) == pid && status == 0;
}

}  // namespace

int FreeLoopbackPort() {
    CSocketConn probe;
    return probe.Listen("127.0.0.1", 0) ? probe.GetLocalPort() : 0;
}

CTestSlapd::CTestSlapd(bool tls) {
    char pattern[] = "/tmp/velmorin-slapd-XXXXXX";
    m_folder = mkdtemp(pattern);
    std::filesystem::create_directories(m_folder + "/db");
    std::string keyFile = m_folder + "/key.pem";
    std::string certFile = CaFile();
    if (tls && !RunToEnd({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                          "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", keyFile.c_str(),
                          "-out", certFile.c_str(), "-days", "2", "-subj", "/CN=127.0.0.1",
                          "-addext", "subjectAltName=IP:127.0.0.1"})) {
        return;
    }
    std::ofstream conf(m_folder + "/slapd.conf");
    conf << "include /etc/ldap/schema/core.schema\n"
            "include /etc/ldap/schema/cosine.schema\n"
            "include /etc/ldap/schema/inetorgperson.schema\n"
         << "pidfile " << m_folder << "/slapd.pid\n";
    if (tls) {
        conf << "TLSCertificateFile " << certFile << "\nTLSCertificateKeyFile " << keyFile
             << "\nsecurity simple_bind=64\n";
    }
    conf << "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
            "database mdb\nsuffix \"dc=example,dc=org\"\nrootdn \"cn=admin,dc=example,dc=org\"\n"
            "rootpw secret\nmaxsize 10485760\n"
         << "directory " << m_folder << "/db\n";
    conf.close();
    std::ofstream(m_folder + "/data.ldif") << kLdif;
    std::string confFile = m_folder + "/slapd.conf";
    std::string ldif = m_folder + "/data.ldif";
    if (!RunToEnd({"/usr/sbin/slapadd", "-q", "-f", confFile.c_str(), "-l", ldif.c_str()})) {
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
    m_pid = Spawn({"/usr/sbin/slapd", "-d", "0", "-h", urls.c_str(), "-f", confFile.c_str()});
    for (int i = 0; m_pid > 0 && i < 250 && !Running(); ++i) {
        usleep(20000);
    }
}

CTestSlapd::~CTestSlapd() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    std::filesystem::remove_all(m_folder);
}

bool CTestSlapd::Running() const {
    return m_pid > 0 && CanConnect(m_port) && (m_ldapsPort == 0 || CanConnect(m_ldapsPort));
}
