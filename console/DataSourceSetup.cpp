#include "console/DataSourceSetup.h"

#include <odbcinst.h>

namespace {

std::string InstallerFailure(const std::string& what) {
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH] = {};
    WORD length = 0;
    SQLInstallerError(1, &code, message, sizeof(message), &length);
    return message[0] != '\0' ? what + ": " + message : what;
}

}  // namespace

std::string SuggestedDsnAttribute(const std::string& defaultName, const std::string& driver) {
    std::string attribute = "DSN=" + defaultName;
    if (driver.find("SQL Server") != std::string::npos) {
        attribute += "_sql";
    } else if (driver.find("Sybase") != std::string::npos) {
        attribute += "_syb";
    } else if (driver.find("Oracle") != std::string::npos) {
        attribute += "_ora";
    }
    return attribute;
}

bool CreateDataSource(const std::string& name, const std::string& driver,
                      const std::map<std::string, std::string>& keys, std::string& error) {
    if (("DSN=" + name).size() > kMaxDsnAttribute) {
        error = "Data source name can not be longer than 250.";
        return false;
    }
    if (name.empty() || !SQLWriteDSNToIni(name.c_str(), driver.c_str())) {
        error = InstallerFailure("Failed to create data source " + name);
        return false;
    }
    return ConfigureDataSource(name, keys, error);
}

bool ConfigureDataSource(const std::string& name, const std::map<std::string, std::string>& keys,
                         std::string& error) {
    for (const auto& [key, value] : keys) {
        if (!SQLWritePrivateProfileString(name.c_str(), key.c_str(),
                                          value.empty() ? nullptr : value.c_str(), "odbc.ini")) {
            error = InstallerFailure("Failed to write " + key + " of data source " + name);
            return false;
        }
    }
    return true;
}

bool CreateDefaultDataSource(const std::string& root, const std::string& name, std::string& error) {
    return CreateDataSource(name, "SQLite3", {{"Database", root + "/data/zr2.db"}}, error);
}
