#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/data/OdbcColumnDesc.h"
#include "engine/data/OdbcHandle.h"
#include "engine/foundation/SspValue.h"

class COdbcConnection;

// One column of a CDynBindSet: its name (without qualifier) and the value of
// the current row, typed after the result set (type tag = the ODBC 2 SQL type,
// column size = buffer size, decimals = scale).
struct CBoundColumn {
    std::string m_strName;
    CSspValue m_value;
    bool m_bChanged = false;  // to be written by the next insert or update
    CSspValue m_original;     // the row as fetched, identifying it for an update
};

// A record set whose columns are bound at run time, each to a CSspValue that
// takes its type from the result. Opening executes and fetches the first row
// (IsEOF/IsBOF tell an empty result); MoveFirst re-executes. Edit/Update write
// the current row back with a searched UPDATE that matches the row as it was
// fetched (the set's filter and every exact-valued column), so a row changed
// by someone else in between affects nothing and raises CDbException with
// code kNoRowsAffected; a row nothing identifies is refused, never every row
// updated. Values are always sent as
// parameters, never cut to the size the driver reports.
//
// ODBC failures throw CDbException; the record set's own texts throw
// CSspException. Not thread-safe; the connection must outlive the set.
class CDynBindSet {
public:
    static constexpr unsigned kExecuteDirect = 0x2000;
    static constexpr unsigned kAppendOnly = 0x8;

    explicit CDynBindSet(COdbcConnection* db = nullptr);
    ~CDynBindSet();
    CDynBindSet(const CDynBindSet&) = delete;
    CDynBindSet& operator=(const CDynBindSet&) = delete;

    void SetConnection(COdbcConnection* db) { m_pDb = db; }

    void AddTable(const std::string& name);
    // Stores the text after the first '.'; false for an empty name or one
    // FindColumn already finds (callers report a duplicate).
    bool AddColumn(const std::string& name);
    // Case-insensitive; qualified and unqualified names find each other.
    CBoundColumn* FindColumn(const std::string& name);
    // 0-based position of the first exact (case-insensitive) match, or -1.
    int FindColumnIndex(const std::string& name) const;
    CSspValue* GetColumnValue(int index);
    CSspValue* GetColumnValue(const std::string& name);
    std::string GetColumnName(int index) const;
    int GetColumnCount() const { return static_cast<int>(m_columns.size()); }
    // Converts the value to the column's type and marks it for writing.
    // False when there is no such column.
    bool SetColumnValue(int index, const CSspValue& value);
    // The field count := the number of named columns; true when there is one.
    bool CountColumns();

    // Executes sql (or, when empty, a SELECT of the named columns from the
    // tables with the filter and sort) and fetches the first row. With no
    // text and no columns it fails without touching the database.
    bool Open(const std::string& sql = std::string(), unsigned options = kExecuteDirect);
    bool OpenDefault();
    // Learns the column types for an insert: on "sql server" and "access" by
    // an empty SELECT (filter "1 = 2"), elsewhere from the catalogue without
    // running any query. False when there are no columns.
    bool OpenForInsert(const std::string& dbmsName);
    bool IsOpen() const { return m_bOpen; }
    bool IsEOF() const { return m_bEOF; }
    bool IsBOF() const { return m_bBOF; }
    void MoveNext();
    void MoveFirst();
    void Close();
    // Close, forget tables, columns, filter and sort.
    void Reset();

    // Add mode: every column NULL and unchanged; the cursor is released.
    void AddNewRow();
    // Inserts the changed columns; false when none changed.
    bool UpdateNewRow();
    // Edit mode on the current row, whose values stay readable; the cursor is
    // released (the set is at its end until MoveFirst).
    void Edit();
    // Writes the changed columns of the row being edited; false when none changed.
    bool Update();

    std::string GetDefaultSQL() const;
    // The statement that was run (or built, for a layout-only open).
    const std::string& GetSQL() const { return m_strSQL; }
    const std::vector<COdbcColumnDesc>& Descriptions() const { return m_descs; }

    std::string m_strFilter;
    std::string m_strSort;
    int m_nQueryTimeout = 15;
    int m_nMaxColumnSize = 20000;
    bool m_bLayoutOnly = false;
    // A catalogue-typed open leaves columns no table has untyped (type 0)
    // instead of raising "Column %s does not exist in table %s".
    bool m_bTolerateUnknownColumns = false;
    // A catalogue-typed open reads the rows the connection kept from an
    // earlier statement, and the catalogue only for what they lack.
    bool m_bKeptCatalogue = false;

private:
    enum class Mode { kNone, kAdd, kEdit };

    void Execute();
    void OnSetOptions(SQLHSTMT stmt);
    void DescribeResult();
    void DescribeColumnsFromCatalogue();
    // Describes the named columns from the catalogue of every table; true when
    // some are left undescribed and kept rows were used.
    bool DescribeTables(bool useKept);
    // Describes the named columns found in one table; returns how many. *kept
    // is set when kept rows were used.
    size_t DescribeFromTable(const std::string& table, bool useKept, bool* kept);
    void BindColumns();
    void FetchRow();
    std::string SelectList() const;
    void RunWithParameters(const std::string& sql, const std::vector<const CSspValue*>& values,
                           bool mustAffectRow);

    COdbcConnection* m_pDb;
    COdbcHandle m_stmt;
    std::vector<std::string> m_tables;
    std::vector<std::unique_ptr<CBoundColumn>> m_columns;
    std::vector<COdbcColumnDesc> m_descs;
    std::string m_strSQL;
    int m_nFields = 0;
    bool m_bOpen = false;
    bool m_bEOF = true;
    bool m_bBOF = true;
    Mode m_mode = Mode::kNone;
};
