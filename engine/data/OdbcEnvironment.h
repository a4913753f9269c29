// Where the driver manager finds the installation's data sources. They live in
// <root>/etc/odbc.ini, so every program of the installation points ODBCINI there
// before its first ODBC call, whoever started it (systemd, a shell, a script).
// ODBCSYSINI stays the system's: the drivers installed on the host (SQLite3,
// PostgreSQL) are all listed.
#pragma once

#include <string>

// The data-source file of the installation at root.
std::string InstallationOdbcIni(const std::string& root);

// Sets ODBCINI to InstallationOdbcIni(root) unless the environment already names
// one. Call at start, before any other thread runs and before any ODBC call.
void UseInstallationOdbcIni(const std::string& root);
