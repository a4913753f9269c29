// Creating and configuring data sources in the installation's odbc.ini through the ODBC
// installer. Linux drivers have no set-up dialogs: the window's form supplies the values.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "console/DataSources.h"

// The longest "DSN=<name>" attribute the installer is given.
inline constexpr size_t kMaxDsnAttribute = 250;

// "DSN=" + the default name, with "_sql", "_syb" or "_ora" for a SQL Server, Sybase or
// Oracle driver.
std::string SuggestedDsnAttribute(const std::string& defaultName, const std::string& driver);

// Adds (or replaces) the data source `name` of `driver` with the keys. False with `error`
// set: "Data source name can not be longer than 250." for a long name, else the installer's
// reason.
bool CreateDataSource(const std::string& name, const std::string& driver,
                      const std::map<std::string, std::string>& keys, std::string& error);

// Writes keys of an existing data source; an empty value removes the key.
bool ConfigureDataSource(const std::string& name, const std::map<std::string, std::string>& keys,
                         std::string& error);

// The default data source: driver "SQLite3", Database = <root>/data/zr2.db. A database path
// the installer cannot store is refused, never dropped.
bool CreateDefaultDataSource(const std::string& root, const std::string& name, std::string& error);

// The dialog's title: "Create data source" without a default name, else "Change data source"
// with a current data source, else "Set up data source".
std::string DataSourceDialogTitle(const std::string& defaultName, const std::string& current);

// The first data source of `after` that `before` does not list; empty when there is none.
std::string FindNewDataSource(const std::vector<CDataSourceEntry>& before,
                              const std::vector<CDataSourceEntry>& after);

// The driver of the named data source (case ignored, blanks trimmed) for Configure; false
// with the text for the user when the list does not hold it.
bool DriverForConfigure(const std::string& name, const std::vector<CDataSourceEntry>& sources,
                        std::string& driver, std::string& error);
