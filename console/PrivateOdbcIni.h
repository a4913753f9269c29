// The odbc.ini the console writes holds data-source passwords. The ODBC installer rewrites it
// in place (truncate and write), so an existing file keeps its mode, owner and group; only a
// file it creates would get the process's umask. Create it ourselves first.
#pragma once

#include <string>

// Makes sure the file ODBCINI names exists before the installer writes it: a new one is
// created 0640 with the group of the folder above its own (the installation root for
// <root>/etc/odbc.ini). An existing file is left as it is. False with `error` set when it
// cannot be created; an unset ODBCINI (the user's own ~/.odbc.ini) is left to the installer.
bool EnsurePrivateOdbcIni(std::string& error);

// The same for an explicit path.
bool EnsurePrivateOdbcIni(const std::string& path, std::string& error);
