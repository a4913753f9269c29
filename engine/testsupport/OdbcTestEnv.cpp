#include "engine/testsupport/OdbcTestEnv.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "engine/testsupport/TempFolder.h"

namespace {

const char* kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
const char* kPostgresDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so";

std::mutex g_lock;
std::map<std::string, std::map<std::string, std::string>> g_dsns;

struct Folder {
    CTempFolder folder;
    const std::string& path = folder.Path();
    Folder() {
        std::ofstream drivers(path + "/odbcinst.ini");
        drivers << "[SQLite3]\nDriver=" << kSqliteDriver
                << "\nDontDLClose=1\n\n[PostgreSQL]\nDriver=" << kPostgresDriver
                << "\nDontDLClose=1\n";
        std::ofstream(path + "/odbc.ini").flush();
        // Keep the drivers mapped so leak reports inside them carry their names
        // and the sanitizer suppressions can match them.
        dlopen(kSqliteDriver, RTLD_NOW | RTLD_NODELETE);
        dlopen(kPostgresDriver, RTLD_NOW | RTLD_NODELETE);
        setenv("ODBCSYSINI", path.c_str(), 1);
        setenv("ODBCINI", (path + "/odbc.ini").c_str(), 1);
    }
};

Folder& TheFolder() {
    static Folder folder;
    return folder;
}

void WriteDsns() {
    std::string tmp = TheFolder().path + "/odbc.ini.tmp";
    {
        std::ofstream out(tmp);
        for (const auto& [name, keys] : g_dsns) {
            out << "[" << name << "]\n";
            for (const auto& [k, v] : keys) {
                out << k << "=" << v << "\n";
            }
            out << "\n";
        }
    }
    std::filesystem::rename(tmp, TheFolder().path + "/odbc.ini");
}

}  // namespace

const std::string& COdbcTestEnv::Dir() {
    return TheFolder().path;
}

void COdbcTestEnv::AddDsn(const std::string& name, const std::map<std::string, std::string>& keys) {
    std::lock_guard lock(g_lock);
    TheFolder();
    g_dsns[name] = keys;
    WriteDsns();
}

std::string COdbcTestEnv::AddSqliteDsn(const std::string& name) {
    std::string file = Dir() + "/" + name + ".db";
    std::filesystem::remove(file);
    AddDsn(name, {{"Driver", "SQLite3"}, {"Database", file}, {"Timeout", "10000"}});
    return "DSN=" + name;
}

const char* COdbcTestEnv::SqliteDriver() {
    return kSqliteDriver;
}

bool COdbcTestEnv::HaveSqliteDriver() {
    return std::filesystem::exists(kSqliteDriver);
}
bool COdbcTestEnv::HavePostgresDriver() {
    return std::filesystem::exists(kPostgresDriver);
}
