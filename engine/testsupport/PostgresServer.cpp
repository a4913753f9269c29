#include "engine/testsupport/PostgresServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/LoopbackPort.h"

std::string CPostgresServer::BinDir() {
    namespace fs = std::filesystem;
    if (fs::exists("/usr/lib/postgresql/15/bin/initdb")) {
        return "/usr/lib/postgresql/15/bin";
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        if (fs::exists(entry.path() / "bin" / "initdb") &&
            fs::exists(entry.path() / "bin/pg_ctl")) {
            return (entry.path() / "bin").string();
        }
    }
    return std::string();
}

bool CPostgresServer::Run(const std::vector<std::string>& args, const std::string& what) {
    std::vector<std::string> full;
    if (geteuid() == 0) {
        full = {"/usr/sbin/runuser", "-u", "postgres", "--"};
    }
    full.insert(full.end(), args.begin(), args.end());
    std::string log = m_strDir + "/tool.log";
    CChildOptions options;
    options.m_stdin = CChildStream::Null();
    options.m_stdout = CChildStream::Append(log);
    options.m_stderr = CChildStream::Append(log);
    CChildProcess tool(full, options);
    if (!tool.Started()) {
        m_strError = what + ": cannot start " + full[0];
        return false;
    }
    if (tool.Wait() != 0) {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        m_strError = what + " failed: " + text.str();
        return false;
    }
    return true;
}

void CPostgresServer::StartWatchdog() {
    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> stop;
    if (geteuid() == 0) {
        stop = {"/usr/sbin/runuser", "-u", "postgres", "--"};
    }
    for (std::string a :
         {m_strBin + "/pg_ctl", std::string("-D"), m_strDir + "/data", std::string("-m"),
          std::string("immediate"), std::string("-w"), std::string("stop")}) {
        stop.push_back(a);
    }
    std::vector<std::string> remove = {"/bin/rm", "-rf", m_strDir};
    std::vector<char*> stopArgv, removeArgv;
    for (auto& a : stop) {
        stopArgv.push_back(a.data());
    }
    stopArgv.push_back(nullptr);
    for (auto& a : remove) {
        removeArgv.push_back(a.data());
    }
    removeArgv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        // Outlives a test program that crashes: when the pipe closes, for
        // whatever reason, the server is stopped and its folder removed.
        setsid();
        close(fds[1]);
        char byte;
        while (read(fds[0], &byte, 1) != 0) {
        }
        for (char** argv : {stopArgv.data(), removeArgv.data()}) {
            pid_t child = fork();
            if (child == 0) {
                int devnull = open("/dev/null", O_RDWR);
                dup2(devnull, 0);
                dup2(devnull, 1);
                dup2(devnull, 2);
                execv(argv[0], argv);
                _exit(127);
            }
            int status;
            waitpid(child, &status, 0);
        }
        _exit(0);
    }
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        return;
    }
    m_nWatchdog = pid;
    m_nWatchdogPipe = fds[1];
}

bool CPostgresServer::Start() {
    m_strBin = BinDir();
    if (m_strBin.empty()) {
        m_bMissing = true;
        m_strError = "PostgreSQL server binaries not found under /usr/lib/postgresql";
        return false;
    }
    m_folder = std::make_unique<CTempFolder>();
    m_strDir = m_folder->Path();
    StartWatchdog();
    if (geteuid() == 0) {
        passwd* pw = getpwnam("postgres");
        if (!pw) {
            m_strError = "no postgres user to run the server as";
            return false;
        }
        if (chown(m_strDir.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            m_strError = "cannot hand the data directory to postgres";
            return false;
        }
    }
    std::string data = m_strDir + "/data";
    if (!Run({m_strBin + "/initdb", "-D", data, "-A", "trust", "-U", "postgres", "-E", "SQL_ASCII",
              "--locale=C", "--no-sync"},
             "initdb")) {
        return false;
    }
    // The port can be taken between probing and binding; try a few.
    for (int attempt = 0; attempt < 5 && !m_bRunning; ++attempt) {
        m_nPort = FreeLoopbackPort();
        std::string options = "-p " + std::to_string(m_nPort) + " -k " + m_strDir +
                              " -c listen_addresses=127.0.0.1 -c fsync=off";
        m_bRunning = Run({m_strBin + "/pg_ctl", "-D", data, "-o", options, "-l",
                          m_strDir + "/server.log", "-w", "-t", "60", "start"},
                         "pg_ctl start");
    }
    return m_bRunning;
}

void CPostgresServer::Stop() {
    if (m_nWatchdog > 0) {
        close(m_nWatchdogPipe);
        int status;
        waitpid(m_nWatchdog, &status, 0);
        m_nWatchdog = 0;
        m_bRunning = false;
        m_strDir.clear();
        m_folder.reset();
        return;
    }
    if (m_bRunning) {
        Run({m_strBin + "/pg_ctl", "-D", m_strDir + "/data", "-m", "immediate", "-w", "stop"},
            "pg_ctl stop");
        m_bRunning = false;
    }
    m_strDir.clear();
    m_folder.reset();
}

std::vector<std::pair<std::string, std::string>> CPostgresServer::OdbcKeys() const {
    return {{"Driver", "PostgreSQL"},          {"Servername", "127.0.0.1"},
            {"Port", std::to_string(m_nPort)}, {"Database", "postgres"},
            {"Username", "postgres"},          {"ByteaAsLongVarBinary", "1"},
            {"TextAsLongVarchar", "1"},        {"UseServerSidePrepare", "1"}};
}
