#include "engine/data/UniqueIdGenerator.h"

#include <strings.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/data/DbException.h"
#include "engine/data/DynBindSet.h"
#include "engine/data/OdbcConnection.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspException.h"

namespace {

constexpr int kAttempts = 20;
constexpr int kFirstId = 100;
constexpr int kMaxValidId = 1000000000;

bool IsIdentifier(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    int dots = 0;
    bool partEmpty = true;
    for (char c : name) {
        if (c == '.') {
            if (partEmpty || ++dots > 1) {
                return false;
            }
            partEmpty = true;
            continue;
        }
        bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) {
            return false;
        }
        partEmpty = false;
    }
    return !partEmpty;
}

bool IsUniqueViolation(const CDbException& e) {
    const std::string& s = e.m_strStateNativeOrigin;
    // The SQLite driver reports constraint failures under a general state.
    return s.find("State:23000") != std::string::npos ||
           s.find("State:23505") != std::string::npos ||
           e.m_strError.find("UNIQUE constraint failed") != std::string::npos;
}

// The update finds its row by exact values, which leaves a long value column
// out: the counter must still hold what was read, or a writer that raced us
// would hand out the same id. LIKE, as not every database compares long text
// with "=".
std::string StillHolds(const std::string& column, const CSspValue& value) {
    std::string read = value.m_blob.HasBlock() ? std::string(value.m_blob.View()) : std::string();
    // Empty and NULL both read as no data.
    if (read.empty()) {
        return "(" + column + " IS NULL OR " + column + " LIKE '')";
    }
    std::string pattern;
    for (char c : read) {
        if (c == '!' || c == '%' || c == '_') {
            pattern += '!';
        }
        pattern += c;
    }
    return column + " LIKE '" + CSspValue::EscapeSqlQuotes(pattern) + "' ESCAPE '!'";
}

std::string Failure(const std::string& table) {
    return std::string(" \r\n") + g_msg.m_uniqueIdFailed + table + ".";
}

}  // namespace

bool CUniqueIdGenerator::UsesUpperCaseColumns(const std::string& registry) {
    return strncasecmp(registry.c_str(), "KX3", 3) == 0 ||
           strncasecmp(registry.c_str(), "KX4", 3) == 0 ||
           strncasecmp(registry.c_str(), "KX5", 3) == 0;
}

int CUniqueIdGenerator::GetUid(const std::string& table, const std::string& column,
                               const std::string& registry) {
    int id = -1;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        id = TryGetUid(table, column, registry);
        if (id >= 1) {
            return id;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return id;
}

int CUniqueIdGenerator::TryGetUid(const std::string& table, const std::string& column,
                                  const std::string& registry) {
    bool upper = UsesUpperCaseColumns(registry);
    CDynBindSet set(&m_db);
    set.AddTable(registry);
    set.AddColumn(upper ? "REG_USER" : "reg_user");
    set.AddColumn(upper ? "REG_SECTION" : "reg_section");
    set.AddColumn(upper ? "REG_KEY" : "reg_key");
    set.AddColumn(upper ? "REG_VALUE" : "reg_value");
    set.m_strFilter = std::string(upper ? "REG_USER = 'System' AND REG_SECTION = 'UniqueID' AND "
                                          "REG_KEY = '"
                                        : "reg_user = 'System' AND reg_section = 'UniqueID' AND "
                                          "reg_key = '") +
                      CSspValue::EscapeSqlQuotes(table) + "'";
    int id = 0;
    bool inserting = false;
    try {
        if (!set.OpenDefault()) {
            char buf[512];
            std::snprintf(buf, sizeof(buf), "Failed to open table: %s", registry.c_str());
            throw CSspException(buf);
        }
        if (set.IsEOF()) {
            inserting = true;
            set.AddNewRow();
            set.SetColumnValue(0, CSspValue::FromText("System"));
            set.SetColumnValue(1, CSspValue::FromText("UniqueID"));
            set.SetColumnValue(2, CSspValue::FromText(table));
            int max = GetMaxId(table, column);
            id = (max == 0 || max == kNullInteger) ? kFirstId : max + 1;
        } else {
            set.Edit();
            // A long value column (TEXT) keeps its digits in the data block,
            // which GetInteger does not read; GetText reads every kind of text.
            std::string stored = set.GetColumnValue(3)->GetText();
            id = stored.empty() ? kNullInteger : CSspValue::TextToInt(stored);
            if (set.GetColumnValue(3)->IsLongText()) {
                set.m_strFilter +=
                    " AND " + StillHolds(set.GetColumnName(3), *set.GetColumnValue(3));
            }
        }
        if (id < 1 || id > kMaxValidId) {
            // A damaged counter restarts above every id already in use.
            int max = GetMaxId(table, column);
            id = (max == kNullInteger || max < kFirstId) ? kFirstId : max + 1;
            if (id > kMaxValidId) {
                id = kFirstId;
            }
        }
        set.SetColumnValue(3, CSspValue::FromText(std::to_string(id + 1)));
        if (!set.Update()) {
            set.Close();
            throw CSspException(std::string("Updating registry table failed.") + Failure(table));
        }
    } catch (CDbException& e) {
        if (e.m_nRetCode == CDbException::kNoRowsAffected || (inserting && IsUniqueViolation(e))) {
            return -1;
        }
        e.m_strError =
            (e.m_strError.empty() ? e.m_strStateNativeOrigin : e.m_strError) + Failure(table);
        throw;
    }
    set.Close();
    return id;
}

int CUniqueIdGenerator::GetMaxId(const std::string& table, const std::string& column) {
    if (!IsIdentifier(table) || !IsIdentifier(column)) {
        throw CSspException("Invalid table or column name for a unique ID: " + table + "." +
                            column);
    }
    CDynBindSet set(&m_db);
    set.AddTable(table);
    set.AddColumn("MAX(" + column + ")");
    if (!set.OpenDefault()) {
        g_log.Log("Failed to open table %s", table.c_str());
        return 0;
    }
    if (set.IsEOF()) {
        return 0;
    }
    return set.GetColumnValue(0)->GetInteger();
}
