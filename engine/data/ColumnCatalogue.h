#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/data/OdbcColumnDesc.h"

class COdbcConnection;

// The catalogue rows of the tables one connection has asked about, kept so that typing the
// values of a statement does not read the catalogue again for every statement (on SQLite
// each read costs several read transactions). Forgotten when the connection closes, and in
// every connection of the process after a statement that may change a schema or the end of
// a transaction (which may publish one). Not thread-safe, like its connection.
class CColumnCatalogue {
public:
    // The rows of `table` (`owner` may be empty; a negative precision reads as 0); read with
    // SQLColumns unless kept, in which
    // case *kept is set. A catalogue that cannot be asked raises "Failed to get column
    // information."; a failure while reading its rows throws CDbException.
    const std::vector<COdbcColumnDesc>& Columns(COdbcConnection& db, const std::string& owner,
                                                const std::string& table, bool* kept);
    // The rows of `table` read afresh (and kept for the next asker).
    const std::vector<COdbcColumnDesc>& Reread(COdbcConnection& db, const std::string& owner,
                                               const std::string& table);
    void Clear() { m_tables.clear(); }

    // Every connection reads its catalogue afresh from now on.
    static void SchemaMayHaveChanged();
    // Calls SchemaMayHaveChanged unless `sql` is a SELECT, INSERT, UPDATE or DELETE.
    static void NoteStatement(const std::string& sql);

private:
    using CKey = std::pair<std::string, std::string>;  // owner, table

    std::map<CKey, std::vector<COdbcColumnDesc>> m_tables;
    uint64_t m_nGeneration = 0;
};
