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

}  // namespace

CSlapd::CSlapd(const std::string& ldif) {
    const std::string& folder = m_folder.Path();
    std::filesystem::create_directories(folder + "/db");
    std::ofstream(folder + "/slapd.conf")
        << "include /etc/ldap/schema/core.schema\n"
           "include /etc/ldap/schema/cosine.schema\n"
           "include /etc/ldap/schema/inetorgperson.schema\n"
           "pidfile "
        << folder
        << "/slapd.pid\n"
           "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
           "database mdb\nsuffix \"dc=example,dc=org\"\nrootdn \"cn=admin,dc=example,dc=org\"\n"
           "rootpw secret\nmaxsize 10485760\ndirectory "
        << folder << "/db\n";
    std::ofstream(folder + "/data.ldif") << ldif;
    std::string conf = folder + "/slapd.conf";
    std::string data = folder + "/data.ldif";
    int status = -1;
    pid_t add = Spawn({"/usr/sbin/slapadd", "-q", "-f", conf.c_str(), "-l", data.c_str()});
    if (add <= 0 || waitpid(add, &status, 0) != add || status != 0) {
        return;
    }
    m_port = FreeLoopbackPort();
    std::string url = "ldap://127.0.0.1:" + std::to_string(m_port) + "/";
    m_pid = Spawn({"/usr/sbin/slapd", "-d", "0", "-h", url.c_str(), "-f", conf.c_str()});
    for (int i = 0; m_pid > 0 && i < 250 && !LoopbackAccepts(m_port); ++i) {
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
    return m_pid > 0 && LoopbackAccepts(m_port);
}
