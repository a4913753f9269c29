// An installation root for the console's tests: bin/Brackmoor copied in (its root is the
// parent of its folder), settings for 127.0.0.1 on a free port, and a fake systemctl first
// on PATH that records its arguments.
#pragma once

#include <string>
#include <vector>

#include "engine/testsupport/ScopedEnv.h"
#include "engine/testsupport/TempFolder.h"

struct CConsoleRun {
    int m_exitCode = -1;
    std::string m_stderr;
};

class CConsoleTestRoot {
public:
    // folderName: the root's own name inside the temporary folder (may hold a blank).
    explicit CConsoleTestRoot(const std::string& folderName = "root");
    ~CConsoleTestRoot();
    CConsoleTestRoot(const CConsoleTestRoot&) = delete;
    CConsoleTestRoot& operator=(const CConsoleTestRoot&) = delete;

    const std::string& Root() const { return m_root; }
    std::string Path(const std::string& relative) const { return m_root + "/" + relative; }
    int Port() const { return m_port; }

    // Writes etc/velmorin.conf: the base settings, each replaced by a line of `extra`
    // ("Name=Value") of the same name.
    void WriteSettings(const std::vector<std::string>& extra = {});
    // Puts the real server in bin/ behind a wrapper that counts launches.
    void InstallServer();
    // bin/Tallgrove as a shell script of `body`.
    void InstallStub(const std::string& body);
    int Launches() const;

    // Runs bin/Brackmoor with the arguments, DISPLAY unset; waits for it.
    CConsoleRun Run(const std::vector<std::string>& arguments);
    bool ServerRunning() const;
    // Every systemctl call so far, one line each.
    std::vector<std::string> SystemctlCalls() const;
    const std::string& FakeBin() const { return m_fakeBin; }

private:
    CTempFolder m_temp;
    std::string m_root;
    std::string m_fakeBin;
    int m_port;
    CScopedEnv m_env;
};

// An executable file of `text`.
void WriteExecutable(const std::string& path, const std::string& text);
