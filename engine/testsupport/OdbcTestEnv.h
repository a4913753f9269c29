#pragma once

#include <map>
#include <string>

// Points unixODBC at ini files in a private temporary folder, so tests name
// their own DSNs (which then appear in messages) without touching /etc.
// Must run before the first ODBC call of the process; every call is cheap
// after the first.
class COdbcTestEnv {
public:
    // The private folder (created on first use, removed at exit).
    static const std::string& Dir();
    // Adds or replaces a DSN; keys are written as given.
    static void AddDsn(const std::string& name, const std::map<std::string, std::string>& keys);
    // A DSN on a fresh SQLite database file of that name in the folder.
    static std::string AddSqliteDsn(const std::string& name);
    // The SQLite3 ODBC driver's file, for DSN-less connection strings.
    static const char* SqliteDriver();
    // Whether the SQLite3 ODBC driver is installed.
    static bool HaveSqliteDriver();
    static bool HavePostgresDriver();
};
