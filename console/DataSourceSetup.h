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

// Whether a data source of that name is listed; case is ignored, as the driver manager
// ignores it when it finds a section.
bool DataSourceExists(const std::string& name);

// `base` when no data source of `sources` has that name, else the first free of base + "_2",
// base + "_3", ...; an empty base stays empty.
std::string UnusedDataSourceName(const std::string& base,
                                 const std::vector<CDataSourceEntry>& sources);

// Adds the data source `name` of `driver` with the keys. False with `error` set: "Data source
// name can not be longer than 250." for a long name, "Data source <name> already exists."
// for a name in use (never replaced here), else the installer's reason.
bool CreateDataSource(const std::string& name, const std::string& driver,
                      const std::map<std::string, std::string>& keys, std::string& error);

// Writes the data source `name` of `driver` with the keys, added when it does not exist. One
// of the same driver keeps every key not given (Timeout, JournalMode, a password); one of
// another driver is begun afresh, since the old driver's keys mean nothing to the new one.
bool ReplaceDataSource(const std::string& name, const std::string& driver,
                       const std::map<std::string, std::string>& keys, std::string& error);

// The question asked before a data source of that name is replaced.
std::string ReplaceDataSourceQuestion(const std::string& name);

// Writes keys of an existing data source; an empty value removes the key.
bool ConfigureDataSource(const std::string& name, const std::map<std::string, std::string>& keys,
                         std::string& error);

// The default data source: driver "SQLite3", Database = <root>/data/zr2.db. Refuses a name
// in use, as CreateDataSource does. A database path the installer cannot store is refused,
// never dropped.
inline constexpr const char* kDefaultDriver = "SQLite3";
std::map<std::string, std::string> DefaultDataSourceKeys(const std::string& root);
bool CreateDefaultDataSource(const std::string& root, const std::string& name, std::string& error);
// Whether `name` already is the default data source of this root (its driver and database),
// so that Create Default has nothing to change.
bool IsDefaultDataSource(const std::string& root, const std::string& name);

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
