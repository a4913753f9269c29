#include "engine/data/ColumnCatalogue.h"

#include <algorithm>
#include <atomic>
#include <cctype>

#include "engine/data/ColumnSet.h"
#include "engine/data/DbException.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SspException.h"

namespace {

std::atomic<uint64_t> g_schemaGeneration{0};

}  // namespace

const std::vector<COdbcColumnDesc>& CColumnCatalogue::Columns(COdbcConnection& db,
                                                              const std::string& owner,
                                                              const std::string& table,
                                                              bool* kept) {
    uint64_t generation = g_schemaGeneration.load();
    if (generation != m_nGeneration) {
        m_tables.clear();
        m_nGeneration = generation;
    }
    auto found = m_tables.find(CKey(owner, table));
    if (found != m_tables.end()) {
        *kept = true;
        return found->second;
    }
    *kept = false;
    return Reread(db, owner, table);
}

const std::vector<COdbcColumnDesc>& CColumnCatalogue::Reread(COdbcConnection& db,
                                                             const std::string& owner,
                                                             const std::string& table) {
    // Read before the rows: a schema change during the read makes the next asker read again.
    uint64_t generation = g_schemaGeneration.load();
    if (generation != m_nGeneration) {
        m_tables.clear();
        m_nGeneration = generation;
    }
    std::vector<COdbcColumnDesc> rows;
    CColumnSet cat(db);
    cat.m_strOwnerParam = owner;
    cat.m_strTableNameParam = table;
    try {
        cat.Open();
    } catch (const CDbException&) {
        throw CSspException("Failed to get column information.");
    }
    for (; !cat.IsEOF(); cat.MoveNext()) {
        COdbcColumnDesc column;
        column.m_strName = cat.m_strColumnName;
        column.m_nSqlType = cat.m_nDataType;
        column.m_nPrecision = static_cast<SQLULEN>(std::max(0L, cat.m_nPrecision));
        column.m_nScale = cat.m_nScale;
        column.m_nNullable = cat.m_nNullable;
        rows.push_back(std::move(column));
    }
    std::vector<COdbcColumnDesc>& slot = m_tables[CKey(owner, table)];
    slot = std::move(rows);
    return slot;
}

void CColumnCatalogue::SchemaMayHaveChanged() {
    g_schemaGeneration.fetch_add(1);
}

void CColumnCatalogue::NoteStatement(const std::string& sql) {
    size_t start = 0;
    while (start < sql.size() && std::isspace(static_cast<unsigned char>(sql[start]))) {
        ++start;
    }
    size_t end = start;
    while (end < sql.size() && std::isalpha(static_cast<unsigned char>(sql[end]))) {
        ++end;
    }
    std::string_view word(sql.data() + start, end - start);
    for (const char* harmless : {"SELECT", "INSERT", "UPDATE", "DELETE"}) {
        if (AsciiEqualNoCase(word, harmless)) {
            return;
        }
    }
    SchemaMayHaveChanged();
}
