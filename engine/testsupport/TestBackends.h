#pragma once

#include <string>

// The two real drivers every data test runs against. Connect() hands out a
// connection string on a DSN of the given name: for SQLite a fresh database
// file, for PostgreSQL the one server of the process (started on first use,
// stopped at exit), where tests drop and create their own tables. The
// PostgreSQL DSN is named dsnName + "pg": the driver manager keeps the driver
// of a DSN name for the life of the process.
struct CTestBackend {
    enum Kind { kSqlite, kPostgres };

    // False, with *why set, when the backend cannot run here (tests skip).
    static bool Connect(Kind kind, const std::string& dsnName, std::string* connect,
                        std::string* why);
    static const char* Name(Kind kind) { return kind == kSqlite ? "Sqlite" : "Postgres"; }
};
