#include "console/tests/ConsoleTestRoot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/foundation/NamedObject.h"
#include "engine/foundation/ObjectNames.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/WholeFile.h"

namespace fs = std::filesystem;

void WriteExecutable(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteFile(path, text)) << path;
    ::chmod(path.c_str(), 0755);
}

CConsoleTestRoot::CConsoleTestRoot(const std::string& folderName)
    : m_root(m_temp.File(folderName)),
      m_fakeBin(m_temp.File("fakebin")),
      m_port(FreeLoopbackPort()) {
    for (const char* folder : {"bin", "etc", "webroot/log", "tmp", "mail", "data", "certs"}) {
        fs::create_directories(Path(folder));
    }
    fs::create_directories(m_fakeBin);
    fs::copy_file(VELMORIN_BRACKMOOR, Path("bin/Brackmoor"));
    // Records its arguments; "status" of an unknown unit is 4, as systemd says.
    WriteExecutable(m_fakeBin + "/systemctl",
                    "#!/bin/sh\necho \"$*\" >> '" + m_fakeBin +
                        "/calls'\n"
                        "case \"$*\" in *\" status \"*) exit 4;; esac\nexit 0\n");
    // PATH holds the fake and the system's tools, never a Tallgrove.
    m_env.Set("PATH", (m_fakeBin + ":/usr/bin:/bin").c_str());
    m_env.Set("DISPLAY", nullptr);
    m_env.Set("NOTIFY_SOCKET", nullptr);
    // The programs find the installation's own data sources.
    m_env.Set("ODBCINI", nullptr);
    WriteFile(Path("etc/odbc.ini"),
              "[zr2]\nDriver=SQLite3\nDatabase=" + Path("data/zr2.db") + "\n");
    WriteSettings();
}

CConsoleTestRoot::~CConsoleTestRoot() {
    // A server a test left running stops with its installation.
    if (CNamedEvent::Signal(m_root, kServerStopEventName)) {
        for (int i = 0; i < 200 && CNamedEvent::Exists(m_root, kServerStopEventName); ++i) {
            ::usleep(50000);
        }
    }
}

void CConsoleTestRoot::WriteSettings(const std::vector<std::string>& extra) {
    // The first line of a name wins: the extra lines go first.
    std::string text;
    for (const std::string& line : extra) {
        text += line + "\n";
    }
    text += "GeneralTcpipAddress=127.0.0.1\nFQDN=127.0.0.1\nGeneralTcpipPort=" +
            std::to_string(m_port) + "\nDbOdbcConnectString=ODBC;DSN=zr2;\n";
    ASSERT_TRUE(WriteFile(Path("etc/velmorin.conf"), text));
}

void CConsoleTestRoot::InstallServer() {
    // The real program keeps its own name's folder, so its root is this one.
    fs::copy_file(VELMORIN_TALLGROVE, Path("bin/Tallgrove.real"));
    InstallStub("exec '" + Path("bin/Tallgrove.real") + "' \"$@\"");
}

void CConsoleTestRoot::InstallStub(const std::string& body) {
    WriteExecutable(Path("bin/Tallgrove"),
                    "#!/bin/sh\necho \"$0 $*\" >> '" + Path("launches") + "'\n" + body + "\n");
}

int CConsoleTestRoot::Launches() const {
    const std::string text = ReadFile(Path("launches"));
    int count = 0;
    for (char c : text) {
        count += c == '\n';
    }
    return count;
}

CConsoleRun CConsoleTestRoot::Run(const std::vector<std::string>& arguments) {
    CConsoleRun run;
    const std::string program = Path("bin/Brackmoor");
    const std::string errors = m_temp.File("stderr");
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CChildOptions options;
    options.m_stdin = options.m_stdout = CChildStream::Null();
    options.m_stderr = CChildStream::Truncate(errors);
    CChildProcess brackmoor(argv, options);
    if (!brackmoor.Started()) {
        ADD_FAILURE() << "cannot run Brackmoor: " << brackmoor.StartError();
        return run;
    }
    run.m_exitCode = brackmoor.Wait();
    run.m_stderr = ReadFile(errors);
    return run;
}

bool CConsoleTestRoot::ServerRunning() const {
    return CNamedEvent::Exists(m_root, kServerStopEventName);
}

std::vector<std::string> CConsoleTestRoot::SystemctlCalls() const {
    std::vector<std::string> calls;
    std::istringstream in(ReadFile(m_fakeBin + "/calls"));
    for (std::string line; std::getline(in, line);) {
        calls.push_back(line);
    }
    return calls;
}
