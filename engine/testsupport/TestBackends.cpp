#include "engine/testsupport/TestBackends.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>

#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/PostgresServer.h"

namespace {

// Stops the shared server when the test program ends.
class CPostgresEnvironment : public ::testing::Environment {
public:
    void TearDown() override { Server().reset(); }

    static std::unique_ptr<CPostgresServer>& Server() {
        static std::unique_ptr<CPostgresServer> server;
        return server;
    }
};

[[maybe_unused]] ::testing::Environment* const g_pgEnvironment =
    ::testing::AddGlobalTestEnvironment(new CPostgresEnvironment);

std::mutex g_lock;
std::string g_pgError;
bool g_pgMissing = false;

}  // namespace

bool CTestBackend::Connect(Kind kind, const std::string& dsnName, std::string* connect,
                           std::string* why) {
    if (kind == kSqlite) {
        if (!COdbcTestEnv::HaveSqliteDriver()) {
            *why = "SQLite3 ODBC driver (libsqliteodbc) not installed";
            return false;
        }
        *connect = COdbcTestEnv::AddSqliteDsn(dsnName);
        return true;
    }
    std::lock_guard lock(g_lock);
    if (!COdbcTestEnv::HavePostgresDriver()) {
        *why = "PostgreSQL ODBC driver (odbc-postgresql) not installed";
        return false;
    }
    auto& server = CPostgresEnvironment::Server();
    if (!server && g_pgError.empty()) {
        auto started = std::make_unique<CPostgresServer>();
        if (started->Start()) {
            server = std::move(started);
        } else {
            g_pgError = started->Error();
            g_pgMissing = started->Missing();
        }
    }
    if (!server) {
        // Installed but broken is a failure, not a reason to skip.
        if (!g_pgMissing) {
            ADD_FAILURE() << "PostgreSQL did not start: " << g_pgError;
        }
        *why = g_pgError;
        return false;
    }
    std::map<std::string, std::string> keys;
    for (const auto& [k, v] : server->OdbcKeys()) {
        keys[k] = v;
    }
    // The driver manager remembers a DSN's driver for the life of the process,
    // so the PostgreSQL DSNs carry their own names.
    COdbcTestEnv::AddDsn(dsnName + "pg", keys);
    *connect = "DSN=" + dsnName + "pg";
    return true;
}
