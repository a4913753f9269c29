#include "engine/data/OdbcEnvironment.h"

#include <stdlib.h>

std::string InstallationOdbcIni(const std::string& root) {
    return root + "/etc/odbc.ini";
}

void UseInstallationOdbcIni(const std::string& root) {
    // An administrator's own choice wins; an empty value chooses nothing.
    const char* current = ::getenv("ODBCINI");
    if (current == nullptr || *current == '\0') {
        ::setenv("ODBCINI", InstallationOdbcIni(root).c_str(), 1);
    }
}
