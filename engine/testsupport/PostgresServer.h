#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/testsupport/TempFolder.h"

// A private PostgreSQL server for tests: a fresh cluster in a temporary data
// directory, listening on 127.0.0.1 on a free port, started and stopped by
// the test. As root the server runs as the "postgres" user (runuser), since
// PostgreSQL refuses to run as root.
//
//   CPostgresServer pg;
//   if (!pg.Start()) GTEST_SKIP() << pg.Error();
//   ... connect with pg.OdbcKeys() / pg.Port() ...
//   // the destructor stops the server and removes the directory
class CPostgresServer {
public:
    CPostgresServer() = default;
    ~CPostgresServer() { Stop(); }
    CPostgresServer(const CPostgresServer&) = delete;
    CPostgresServer& operator=(const CPostgresServer&) = delete;

    // Folder of initdb and pg_ctl, or empty when PostgreSQL is not installed.
    static std::string BinDir();

    // Creates and starts the cluster. False with Error() set when the binaries
    // are absent (then Missing() is true) or a step failed.
    bool Start();
    void Stop();

    bool Missing() const { return m_bMissing; }
    const std::string& Error() const { return m_strError; }
    int Port() const { return m_nPort; }
    // Everything a psqlodbc DSN needs for this server (database "postgres",
    // user "postgres", trust authentication).
    std::vector<std::pair<std::string, std::string>> OdbcKeys() const;

private:
    bool Run(const std::vector<std::string>& args, const std::string& what);
    // A child process that stops the server once this process lets go of
    // it, by Stop or by dying.
    void StartWatchdog();

    std::unique_ptr<CTempFolder> m_folder;
    std::string m_strDir;
    std::string m_strBin;
    std::string m_strError;
    int m_nPort = 0;
    bool m_bRunning = false;
    bool m_bMissing = false;
    pid_t m_nWatchdog = 0;
    int m_nWatchdogPipe = -1;
};
