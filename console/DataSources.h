// The ODBC drivers and data sources the driver manager knows, and the database kind of a
// data source. The installation's data sources live in the odbc.ini that ODBCINI names; the
// drivers in the system's odbcinst.ini.
#pragma once

#include <string>
#include <vector>

struct CDataSourceEntry {
    std::string m_name;
    std::string m_driver;  // the driver's name (a library path mapped back to it)
};

// The installed drivers' names; false with `error` set when the installer fails.
bool ListDrivers(std::vector<std::string>& drivers, std::string& error);
// The data sources with their drivers; false with `error` set when the listing fails.
bool ListDataSources(std::vector<CDataSourceEntry>& sources, std::string& error);

// "Oracle", "Sybase", "Mssql", "Access", "Sqlite", "Postgres" or empty, from a driver name.
std::string DriverKind(const std::string& driver);
// The kind of the named data source (blanks trimmed, case ignored); empty when unknown.
std::string GetDsnKind(const std::string& name);

// A value of the data source's odbc.ini entry; empty when there is none. Never writes.
std::string DataSourceAttribute(const std::string& dsn, const std::string& key);

// The database file of a connection string: its DBQ, else for a SQLite data source its
// Database, in the string or in the data source's entry. Empty when there is none.
std::string DataSourceFile(const std::string& connect);
