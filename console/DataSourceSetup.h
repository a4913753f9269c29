// Creating and configuring data sources in the installation's odbc.ini through the ODBC
// installer. Linux drivers have no set-up dialogs: the window's form supplies the values.
#pragma once

#include <map>
#include <string>

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
