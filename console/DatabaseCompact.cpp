#include "console/DatabaseCompact.h"

#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SystemError.h"

namespace {

constexpr char kHeader[] = "SQLite format 3";

struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};

std::string TrimRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.pop_back();
    }
    return text;
}

bool HasSqliteHeader(const std::string& path) {
    char head[sizeof(kHeader)] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(head, sizeof(head));
    return in.gcount() == static_cast<std::streamsize>(sizeof(head)) &&
           std::memcmp(head, kHeader, sizeof(kHeader)) == 0;
}

// Single quotes doubled, for a file name inside a statement.
std::string Quoted(const std::string& text) {
    return "'" + DoubledChar(text, '\'') + "'";
}

bool SamePath(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return a == b;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

bool CompactAccessDatabase(const std::string& sourceIn, const std::string& destinationIn,
                           std::string& error) {
    const std::string source = TrimRight(sourceIn);
    std::string destination = TrimRight(destinationIn);
    if (source.empty()) {
        error = "No database file is given.";
        return false;
    }
    if (destination.empty()) {
        destination = source;
    }
    if (::access(source.c_str(), R_OK) != 0) {
        error = source + ": " + FormatSystemError(errno);
        return false;
    }
    if (!HasSqliteHeader(source)) {
        error = source + " is not a SQLite database file.";
        return false;
    }
    const bool inPlace = SamePath(source, destination);
    if (!inPlace && ::access(destination.c_str(), F_OK) == 0) {
        error = destination + " already exists.";
        return false;
    }

    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(source.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, CloseDb> db(raw);
    if (rc != SQLITE_OK) {
        error = source + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        return false;
    }
    if (inPlace) {
        if (sqlite3_exec(db.get(), "VACUUM", nullptr, nullptr, nullptr) != SQLITE_OK) {
            error = source + ": " + sqlite3_errmsg(db.get());
            return false;
        }
        return true;
    }
    const std::string temporary = destination + ".compacting";
    ::unlink(temporary.c_str());
    const std::string sql = "VACUUM INTO " + Quoted(temporary);
    if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = destination + ": " + sqlite3_errmsg(db.get());
        ::unlink(temporary.c_str());
        return false;
    }
    // link() refuses an existing name, so a destination made meanwhile is never replaced.
    if (::link(temporary.c_str(), destination.c_str()) != 0) {
        error = destination + ": " + FormatSystemError(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    ::unlink(temporary.c_str());
    return true;
}
