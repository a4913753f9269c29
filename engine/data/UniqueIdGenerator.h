#pragma once

#include <string>

class COdbcConnection;

// Hands out ids from the counters kept in the application's registry table:
// one row per table (user "System", section "UniqueID", key = table name)
// whose value is the next id. Every server and studio sharing the database
// draws distinct ids; a writer that loses a race retries.
//
// Not thread-safe on its own: CDataSource runs it under its lock.
class CUniqueIdGenerator {
public:
    explicit CUniqueIdGenerator(COdbcConnection& db) : m_db(db) {}

    // Up to 20 attempts, sleeping 100 ms after each lost one; the id (>= 1),
    // or -1 when every attempt lost. Script errors end the loop at once.
    int GetUid(const std::string& table, const std::string& column, const std::string& registry);
    // One attempt: the id, or -1 when another writer changed the counter first.
    int TryGetUid(const std::string& table, const std::string& column, const std::string& registry);
    // Largest value of the column, 0 when the table is empty or cannot be read.
    // Table and column must be plain identifiers (letters, digits, '_', one
    // optional schema dot); anything else raises before any SQL runs.
    int GetMaxId(const std::string& table, const std::string& column);

    // Whether a registry table of this name uses the upper-case REG_ columns.
    static bool UsesUpperCaseColumns(const std::string& registry);

private:
    COdbcConnection& m_db;
};
