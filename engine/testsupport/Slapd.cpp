#include "engine/testsupport/Slapd.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <vector>

#include "engine/testsupport/LoopbackPort.h"

extern char** environ;

namespace {

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

CSlapd::CSlapd(const std::string& ldif, bool tls) {
    const std::string& folder = m_folder.Path();
    std::filesystem::create_directories(folder + "/db");
    std::string keyFile = folder + "/key.pem";
    std::string certFile = CaFile();
    if (tls && !RunToEnd({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                          "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", keyFile.c_str(),
                          "-out", certFile.c_str(), "-days", "2", "-subj", "/CN=127.0.0.1",
                          "-addext", "subjectAltName=IP:127.0.0.1"})) {
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
    if (!RunToEnd({"/usr/sbin/slapadd", "-q", "-f", confFile.c_str(), "-l", data.c_str()})) {
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

CSlapd::~CSlapd() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

bool CSlapd::Running() const {
    return m_pid > 0 && LoopbackAccepts(m_port) &&
           (m_ldapsPort == 0 || LoopbackAccepts(m_ldapsPort));
}
