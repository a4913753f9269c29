#include "console/DataSourceSetup.h"

#include <odbcinst.h>

#include "console/PrivateOdbcIni.h"
#include "engine/foundation/AsciiText.h"

namespace {

std::string InstallerFailure(const std::string& what) {
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH] = {};
    WORD length = 0;
    SQLInstallerError(1, &code, message, sizeof(message), &length);
    return message[0] != '\0' ? what + ": " + message : what;
}

// The listed driver of the data source; false when there is no such data source.
bool ListedDriver(const std::string& name, std::string& driver) {
    std::vector<CDataSourceEntry> sources;
    std::string error;
    if (name.empty() || !ListDataSources(sources, error)) {
        return false;
    }
    for (const CDataSourceEntry& entry : sources) {
        if (AsciiEqualNoCase(entry.m_name, name)) {
            driver = entry.m_driver;
            return true;
        }
    }
    return false;
}

bool NameFits(const std::string& name, std::string& error) {
    if (("DSN=" + name).size() > kMaxDsnAttribute) {
        error = "Data source name can not be longer than 250.";
        return false;
    }
    return true;
}

// A section holding only its Driver, replacing any of that name.
bool WriteFreshSection(const std::string& name, const std::string& driver, std::string& error) {
    if (!EnsurePrivateOdbcIni(error)) {
        return false;
    }
    if (name.empty() || !SQLWriteDSNToIni(name.c_str(), driver.c_str())) {
        error = InstallerFailure("Failed to create data source " + name);
        return false;
    }
    return true;
}

}  // namespace

bool DataSourceExists(const std::string& name) {
    std::string driver;
    return ListedDriver(name, driver);
}

std::string UnusedDataSourceName(const std::string& base,
                                 const std::vector<CDataSourceEntry>& sources) {
    const auto taken = [&sources](const std::string& name) {
        for (const CDataSourceEntry& entry : sources) {
            if (AsciiEqualNoCase(entry.m_name, name)) {
                return true;
            }
        }
        return false;
    };
    if (base.empty() || !taken(base)) {
        return base;
    }
    for (size_t n = 2;; ++n) {
        const std::string name = base + "_" + std::to_string(n);
        if (!taken(name)) {
            return name;
        }
    }
}

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
    // Before the listing, which may create the file too.
    if (!NameFits(name, error) || !EnsurePrivateOdbcIni(error)) {
        return false;
    }
    if (DataSourceExists(name)) {
        error = "Data source " + name + " already exists.";
        return false;
    }
    return WriteFreshSection(name, driver, error) && ConfigureDataSource(name, keys, error);
}

bool ReplaceDataSource(const std::string& name, const std::string& driver,
                       const std::map<std::string, std::string>& keys, std::string& error) {
    if (!NameFits(name, error) || !EnsurePrivateOdbcIni(error)) {
        return false;
    }
    std::string listed;
    if (!ListedDriver(name, listed) || !AsciiEqualNoCase(listed, driver)) {
        return WriteFreshSection(name, driver, error) && ConfigureDataSource(name, keys, error);
    }
    // Written again as it stands, so a data source listed from the system's file gets a whole
    // section in ours rather than one without a driver.
    std::map<std::string, std::string> all = keys;
    const std::string standing = DataSourceAttribute(name, "Driver");
    if (!standing.empty()) {
        all.emplace("Driver", standing);
    }
    return ConfigureDataSource(name, all, error);
}

std::string ReplaceDataSourceQuestion(const std::string& name) {
    return "A data source named " + name +
           " already exists.\nWould you like to replace it? Keys you did not set here are "
           "kept unless the driver changes.";
}

bool ConfigureDataSource(const std::string& name, const std::map<std::string, std::string>& keys,
                         std::string& error) {
    if (!EnsurePrivateOdbcIni(error)) {
        return false;
    }
    for (const auto& [key, value] : keys) {
        if (!SQLWritePrivateProfileString(name.c_str(), key.c_str(),
                                          value.empty() ? nullptr : value.c_str(), "odbc.ini")) {
            error = InstallerFailure("Failed to write " + key + " of data source " + name);
            return false;
        }
    }
    return true;
}

std::map<std::string, std::string> DefaultDataSourceKeys(const std::string& root) {
    return {{"Database", root + "/data/zr2.db"}};
}

bool CreateDefaultDataSource(const std::string& root, const std::string& name, std::string& error) {
    return CreateDataSource(name, kDefaultDriver, DefaultDataSourceKeys(root), error);
}

bool IsDefaultDataSource(const std::string& root, const std::string& name) {
    std::string driver;
    if (!ListedDriver(name, driver) || !AsciiEqualNoCase(driver, kDefaultDriver)) {
        return false;
    }
    for (const auto& [key, value] : DefaultDataSourceKeys(root)) {
        if (DataSourceAttribute(name, key) != value) {
            return false;
        }
    }
    return true;
}

std::string DataSourceDialogTitle(const std::string& defaultName, const std::string& current) {
    if (defaultName.empty()) {
        return "Create data source";
    }
    return current.empty() ? "Set up data source" : "Change data source";
}

std::string FindNewDataSource(const std::vector<CDataSourceEntry>& before,
                              const std::vector<CDataSourceEntry>& after) {
    for (const CDataSourceEntry& entry : after) {
        bool known = false;
        for (const CDataSourceEntry& old : before) {
            known = known || old.m_name == entry.m_name;
        }
        if (!known) {
            return entry.m_name;
        }
    }
    return std::string();
}

bool DriverForConfigure(const std::string& name, const std::vector<CDataSourceEntry>& sources,
                        std::string& driver, std::string& error) {
    const size_t first = name.find_first_not_of(" \t");
    const size_t last = name.find_last_not_of(" \t");
    const std::string trimmed =
        first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
    for (const CDataSourceEntry& entry : sources) {
        if (AsciiEqualNoCase(entry.m_name, trimmed)) {
            driver = entry.m_driver;
            return true;
        }
    }
    error = "System did not find " + trimmed +
            "\nPlease configue it through Control Panel, ODBC administrator";
    return false;
}
