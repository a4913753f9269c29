#include "console/tests/LiveZr2.h"

#include <odbcinst.h>

#include <utility>

#include "engine/testsupport/WholeFile.h"

std::string WriteLiveZr2(const std::string& ini, const std::string& database) {
    SQLWriteDSNToIni("zr2", "SQLite3");
    const std::pair<const char*, std::string> keys[] = {
        {"Database", database}, {"Timeout", "10000"}, {"JournalMode", "WAL"}};
    for (const auto& [key, value] : keys) {
        SQLWritePrivateProfileString("zr2", key, value.c_str(), "odbc.ini");
    }
    return ReadFile(ini);
}
