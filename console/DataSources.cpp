#include "console/DataSources.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include "engine/data/DbException.h"
#include "engine/data/OdbcHandle.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/ConnectString.h"

namespace {

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// A NUL-separated list ended by an empty name.
std::vector<std::string> SplitNulList(const char* list, size_t size) {
    std::vector<std::string> names;
    size_t at = 0;
    while (at < size && list[at] != '\0') {
        std::string name(list + at);
        at += name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

std::string InstallerError() {
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH] = {};
    WORD length = 0;
    if (SQLInstallerError(1, &code, message, sizeof(message), &length) == SQL_SUCCESS ||
        length > 0) {
        return message;
    }
    return std::string();
}

// The driver whose library is `path`, or `path` itself when no driver names it.
std::string DriverOfLibrary(const std::string& path) {
    std::vector<std::string> drivers;
    std::string error;
    if (path.empty() || path[0] != '/' || !ListDrivers(drivers, error)) {
        return path;
    }
    for (const std::string& driver : drivers) {
        char value[1024] = {};
        SQLGetPrivateProfileString(driver.c_str(), "Driver", "", value, sizeof(value),
                                   "odbcinst.ini");
        // odbcinst.ini may name the library without its folder.
        const std::string library = value;
        if (path == library || (library.find('/') == std::string::npos &&
                                path.substr(path.rfind('/') + 1) == library)) {
            return driver;
        }
    }
    return path;
}

}  // namespace

bool ListDrivers(std::vector<std::string>& drivers, std::string& error) {
    std::vector<char> buffer(2048);
    WORD used = 0;
    if (!SQLGetInstalledDrivers(buffer.data(), static_cast<WORD>(buffer.size()), &used)) {
        error = "Failed to get driver list";
        const std::string reason = InstallerError();
        if (!reason.empty()) {
            error += ": " + reason;
        }
        return false;
    }
    drivers = SplitNulList(buffer.data(), buffer.size());
    return true;
}

bool ListDataSources(std::vector<CDataSourceEntry>& sources, std::string& error) {
    COdbcHandle env;
    try {
        env = COdbcHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    } catch (const CDbException&) {
        error = "Failed to allocate enviornment handle";
        return false;
    }
    SQLSetEnvAttr(env.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    sources.clear();
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (true) {
        SQLCHAR name[1024] = {};
        SQLCHAR description[1024] = {};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT descriptionLength = 0;
        const SQLRETURN rc = SQLDataSources(env.Get(), direction, name, sizeof(name), &nameLength,
                                            description, sizeof(description), &descriptionLength);
        if (!SQL_SUCCEEDED(rc)) {
            break;
        }
        direction = SQL_FETCH_NEXT;
        sources.push_back(
            {reinterpret_cast<char*>(name), DriverOfLibrary(reinterpret_cast<char*>(description))});
    }
    return true;
}

std::string DriverKind(const std::string& driver) {
    static const struct {
        const char* m_part;
        const char* m_kind;
    } kinds[] = {{"Oracle", "Oracle"}, {"Sybase", "Sybase"}, {"SQL Server", "Mssql"},
                 {"Access", "Access"}, {"SQLite", "Sqlite"}, {"PostgreSQL", "Postgres"}};
    for (const auto& k : kinds) {
        if (driver.find(k.m_part) != std::string::npos) {
            return k.m_kind;
        }
    }
    return std::string();
}

std::string GetDsnKind(const std::string& name) {
    const std::string wanted = Trim(name);
    std::vector<CDataSourceEntry> sources;
    std::string error;
    if (wanted.empty() || !ListDataSources(sources, error)) {
        return std::string();
    }
    for (const CDataSourceEntry& source : sources) {
        if (AsciiEqualNoCase(source.m_name, wanted)) {
            return DriverKind(source.m_driver);
        }
    }
    return std::string();
}

std::string DataSourceAttribute(const std::string& dsn, const std::string& key) {
    if (dsn.empty()) {
        return std::string();
    }
    char value[1024] = {};
    SQLGetPrivateProfileString(dsn.c_str(), key.c_str(), "", value, sizeof(value), "odbc.ini");
    return value;
}

std::string DataSourceFile(const std::string& connect) {
    const std::string dbq = ConnectStringValue(connect, "DBQ");
    if (!dbq.empty()) {
        return dbq;
    }
    const std::string dsn = ConnectStringValue(connect, "DSN");
    std::string kind = DriverKind(ConnectStringValue(connect, "DRIVER"));
    if (kind.empty()) {
        kind = GetDsnKind(dsn);
    }
    if (kind != "Sqlite") {
        return std::string();
    }
    const std::string database = ConnectStringValue(connect, "Database");
    return database.empty() ? DataSourceAttribute(dsn, "Database") : database;
}
