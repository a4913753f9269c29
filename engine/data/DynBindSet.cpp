#include "engine/data/DynBindSet.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "engine/data/ColumnCatalogue.h"
#include "engine/data/DbException.h"
#include "engine/data/OdbcConnection.h"
#include "engine/data/OdbcValueIo.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SspException.h"

namespace {

std::string AfterDot(const std::string& name) {
    size_t dot = name.find('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool Aggregate(const std::string& name) {
    static const char* const kPrefixes[] = {"COUNT(", "MAX(", "MIN(", "SUM(", "AVG("};
    for (const char* p : kPrefixes) {
        if (strncasecmp(name.c_str(), p, std::strlen(p)) == 0) {
            return true;
        }
    }
    return false;
}

// Whether a column can identify its row in a searched UPDATE: exact values
// only, no long data and nothing that may lose precision on the way.
bool Identifying(const CBoundColumn& c) {
    const CSspValue& v = c.m_original;
    return !Aggregate(c.m_strName) && (v.IsInteger() || v.IsText() || v.IsDecimal());
}

}  // namespace

CDynBindSet::CDynBindSet(COdbcConnection* db) : m_pDb(db) {}

CDynBindSet::~CDynBindSet() {
    Reset();
}

void CDynBindSet::AddTable(const std::string& name) {
    m_tables.push_back(name);
}

bool CDynBindSet::AddColumn(const std::string& name) {
    size_t dot = name.find('.');
    std::string stored = dot == std::string::npos ? name : name.substr(dot + 1);
    if (stored.empty() || FindColumn(stored)) {
        return false;
    }
    auto column = std::make_unique<CBoundColumn>();
    column->m_strName = stored;
    m_columns.push_back(std::move(column));
    return true;
}

CBoundColumn* CDynBindSet::FindColumn(const std::string& name) {
    for (auto& c : m_columns) {
        if (AsciiEqualNoCase(c->m_strName, name)) {
            return c.get();
        }
    }
    std::string tail = AfterDot(name);
    bool qualified = name.find('.') != std::string::npos;
    for (auto& c : m_columns) {
        if (qualified) {
            if (AsciiEqualNoCase(c->m_strName, tail)) {
                return c.get();
            }
        } else if (c->m_strName.find('.') != std::string::npos &&
                   AsciiEqualNoCase(AfterDot(c->m_strName), name)) {
            return c.get();
        }
    }
    return nullptr;
}

int CDynBindSet::FindColumnIndex(const std::string& name) const {
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (AsciiEqualNoCase(m_columns[i]->m_strName, name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

CSspValue* CDynBindSet::GetColumnValue(int index) {
    if (index < 0 || index >= static_cast<int>(m_columns.size())) {
        return nullptr;
    }
    return &m_columns[index]->m_value;
}

CSspValue* CDynBindSet::GetColumnValue(const std::string& name) {
    CBoundColumn* c = FindColumn(name);
    return c ? &c->m_value : nullptr;
}

std::string CDynBindSet::GetColumnName(int index) const {
    if (index < 0 || index >= static_cast<int>(m_columns.size())) {
        return std::string();
    }
    return m_columns[index]->m_strName;
}

bool CDynBindSet::SetColumnValue(int index, const CSspValue& value) {
    if (index < 0 || index >= static_cast<int>(m_columns.size())) {
        return false;
    }
    CBoundColumn& c = *m_columns[index];
    CSspValue& dst = c.m_value;
    if ((dst.IsBinary() && value.IsBinary()) || (dst.IsLongText() && value.IsLongText())) {
        CSspValue::CopyBlob(dst.m_blob, value.m_blob);
    } else if (dst.m_type == value.m_type) {
        int size = dst.m_columnSize;
        dst = value;
        dst.m_columnSize = size;
    } else if (dst.IsDateTime() && value.IsDateTime()) {
        dst.m_dateTime = value.m_dateTime;
    } else {
        dst.SetFromText(value.GetTextFor(dst));
    }
    c.m_bChanged = true;
    return true;
}

bool CDynBindSet::CountColumns() {
    m_nFields = static_cast<int>(m_columns.size());
    return m_nFields > 0;
}

std::string CDynBindSet::GetDefaultSQL() const {
    std::string out;
    for (size_t i = 0; i < m_tables.size(); ++i) {
        if (i) {
            out += ",";
        }
        out += m_tables[i];
    }
    return out;
}

std::string CDynBindSet::SelectList() const {
    std::string out;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (i) {
            out += ",";
        }
        out += m_columns[i]->m_strName;
    }
    return out;
}

bool CDynBindSet::Open(const std::string& sql, unsigned /*options*/) {
    if (sql.empty() && m_columns.empty()) {
        return false;
    }
    Close();
    if (!m_pDb || !m_pDb->IsOpen()) {
        throw CDbException(SQL_INVALID_HANDLE, "", "State:08003,Native:0,Origin:\n");
    }
    m_bLayoutOnly = false;
    m_nFields = static_cast<int>(m_columns.size());
    if (sql.empty()) {
        m_strSQL = "SELECT " + SelectList() + " FROM " + GetDefaultSQL();
        if (!m_strFilter.empty()) {
            m_strSQL += " WHERE " + m_strFilter;
        }
        if (!m_strSort.empty()) {
            m_strSQL += " ORDER BY " + m_strSort;
        }
    } else {
        m_strSQL = sql;
    }
    try {
        m_stmt = COdbcHandle(SQL_HANDLE_STMT, m_pDb->Handle());
        OnSetOptions(m_stmt.Get());
        Execute();
        DescribeResult();
        BindColumns();
        m_bOpen = true;
        FetchRow();
        m_bBOF = m_bEOF;
    } catch (...) {
        Close();
        throw;
    }
    return m_bOpen;
}

bool CDynBindSet::OpenDefault() {
    if (!CountColumns()) {
        return false;
    }
    return Open(std::string(), kExecuteDirect) && IsOpen();
}

void CDynBindSet::OnSetOptions(SQLHSTMT stmt) {
    if (m_nQueryTimeout == 15) {
        return;
    }
    SQLRETURN rc = SQLSetStmtAttr(
        stmt, SQL_ATTR_QUERY_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(0, m_nQueryTimeout))), 0);
    if (!SQL_SUCCEEDED(rc)) {
        CDbException e = CDbException::FromHandle(SQL_HANDLE_STMT, stmt, rc);
        e.m_strError += " for SetQueryTimeout";
        throw e;
    }
}

void CDynBindSet::Execute() {
    const SQLRETURN rc = COdbcConnection::ExecDirect(m_stmt.Get(), m_strSQL);
    CColumnCatalogue::NoteStatement(m_strSQL);
    OdbcCheck(rc, SQL_HANDLE_STMT, m_stmt.Get());
}

void CDynBindSet::DescribeResult() {
    m_descs.clear();
    SQLSMALLINT count = 0;
    OdbcCheck(SQLNumResultCols(m_stmt.Get(), &count), SQL_HANDLE_STMT, m_stmt.Get());
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        SQLCHAR name[256] = {0};
        SQLSMALLINT nameLen = 0;
        COdbcColumnDesc d;
        SQLRETURN rc =
            SQLDescribeCol(m_stmt.Get(), static_cast<SQLUSMALLINT>(i), name, sizeof(name), &nameLen,
                           &d.m_nSqlType, &d.m_nPrecision, &d.m_nScale, &d.m_nNullable);
        OdbcCheck(rc, SQL_HANDLE_STMT, m_stmt.Get());
        d.m_strName = reinterpret_cast<char*>(name);
        d.m_nSqlType = OdbcEngineType(d.m_nSqlType);
        m_descs.push_back(std::move(d));
    }
}

void CDynBindSet::BindColumns() {
    auto typeOf = [this](CBoundColumn& c, const COdbcColumnDesc& d) {
        c.m_value = CSspValue();
        c.m_value.m_type = d.m_nSqlType;
        c.m_value.SetNull();
        SQLULEN size = std::min<SQLULEN>(d.m_nPrecision, static_cast<SQLULEN>(m_nMaxColumnSize));
        c.m_value.m_columnSize = size == 0 ? 50 : static_cast<int>(size);
        c.m_value.m_decimals = d.m_nScale;
        c.m_bChanged = false;
    };
    if (m_nFields != 0) {
        for (size_t i = 0; i < m_columns.size() && i < m_descs.size(); ++i) {
            typeOf(*m_columns[i], m_descs[i]);
        }
        return;
    }
    m_columns.clear();
    for (const auto& d : m_descs) {
        auto column = std::make_unique<CBoundColumn>();
        column->m_strName = d.m_strName;
        typeOf(*column, d);
        m_columns.push_back(std::move(column));
    }
    m_nFields = static_cast<int>(m_columns.size());
}

void CDynBindSet::FetchRow() {
    if (m_bLayoutOnly || !m_stmt) {
        m_bEOF = true;
        return;
    }
    if (m_descs.empty()) {
        m_bEOF = true;
        return;
    }
    SQLRETURN rc;
    do {
        rc = SQLFetch(m_stmt.Get());
    } while (rc == SQL_STILL_EXECUTING);
    OdbcCheck(rc, SQL_HANDLE_STMT, m_stmt.Get());
    if (rc == SQL_NO_DATA) {
        m_bEOF = true;
        return;
    }
    m_bEOF = false;
    size_t n = std::min(m_columns.size(), m_descs.size());
    for (size_t i = 0; i < n; ++i) {
        OdbcReadValue(m_stmt.Get(), static_cast<SQLUSMALLINT>(i + 1), m_columns[i]->m_value,
                      m_nMaxColumnSize);
    }
}

void CDynBindSet::MoveNext() {
    if (!m_bOpen || m_bEOF) {
        return;
    }
    FetchRow();
    m_bBOF = false;
}

void CDynBindSet::MoveFirst() {
    if (!m_bOpen || m_bLayoutOnly) {
        return;
    }
    // Forward-only cursors everywhere: the first row comes back by running
    // the statement again.
    SQLFreeStmt(m_stmt.Get(), SQL_CLOSE);
    Execute();
    FetchRow();
    m_bBOF = m_bEOF;
}

void CDynBindSet::Close() {
    m_stmt.Free();
    m_bOpen = false;
    m_bEOF = m_bBOF = true;
    m_mode = Mode::kNone;
}

void CDynBindSet::Reset() {
    Close();
    m_tables.clear();
    m_columns.clear();
    m_descs.clear();
    m_strFilter.clear();
    m_strSort.clear();
    m_nFields = 0;
}

bool CDynBindSet::OpenForInsert(const std::string& dbmsName) {
    if (!CountColumns()) {
        return false;
    }
    std::string lower = AsciiLowerCopy(dbmsName);
    if (lower.find("sql server") != std::string::npos ||
        lower.find("access") != std::string::npos) {
        m_strFilter = "1 = 2";
        Open(std::string(), kExecuteDirect | kAppendOnly);
        return IsOpen();
    }
    Close();
    if (!m_pDb || !m_pDb->IsOpen()) {
        throw CDbException(SQL_INVALID_HANDLE, "", "State:08003,Native:0,Origin:\n");
    }
    m_strSQL = "SELECT " + SelectList() + " FROM " + GetDefaultSQL();
    DescribeColumnsFromCatalogue();
    BindColumns();
    m_bLayoutOnly = true;
    m_bOpen = true;
    m_bEOF = m_bBOF = true;
    m_mode = Mode::kNone;
    return true;
}

size_t CDynBindSet::DescribeFromTable(const std::string& table, bool useKept, bool* kept) {
    size_t described = 0;
    std::string owner, name = table;
    if (size_t dot = table.find('.'); dot != std::string::npos) {
        owner = table.substr(0, dot);
        name = table.substr(dot + 1);
    }
    CColumnCatalogue& catalogue = m_pDb->Catalogue();
    // Catalogues hold names as the database folded them; try the name as
    // written first.
    for (const std::string& tableName : {name, AsciiLowerCopy(name)}) {
        bool fromKept = false;
        const std::vector<COdbcColumnDesc>& rows =
            useKept ? catalogue.Columns(*m_pDb, owner, tableName, &fromKept)
                    : catalogue.Reread(*m_pDb, owner, tableName);
        *kept = *kept || fromKept;
        for (const COdbcColumnDesc& row : rows) {
            int index = FindColumnIndex(row.m_strName);
            if (index < 0 || !m_descs[index].m_strName.empty()) {
                continue;
            }
            m_descs[index] = row;
            ++described;
        }
        if (!rows.empty()) {
            break;
        }
    }
    return described;
}

bool CDynBindSet::DescribeTables(bool useKept) {
    m_descs.assign(m_columns.size(), COdbcColumnDesc());
    bool kept = false;
    // A join names its columns across all its tables.
    size_t described = 0;
    for (size_t t = 0; t < m_tables.size() && described < m_columns.size(); ++t) {
        described += DescribeFromTable(m_tables[t], useKept, &kept);
    }
    return kept && described < m_columns.size();
}

void CDynBindSet::DescribeColumnsFromCatalogue() {
    if (m_tables.empty()) {
        throw CSspException("Table name not found in SQL INSERT.");
    }
    // A kept table may have gained the missing column since it was read.
    if (DescribeTables(m_bKeptCatalogue)) {
        DescribeTables(false);
    }
    if (m_bTolerateUnknownColumns) {
        return;
    }
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_descs[i].m_strName.empty()) {
            char buf[600];
            std::snprintf(buf, sizeof(buf), "Column %s does not exist in table %s",
                          m_columns[i]->m_strName.c_str(), m_tables.front().c_str());
            throw CSspException(buf);
        }
    }
}

void CDynBindSet::AddNewRow() {
    if (!m_bOpen) {
        throw CDbException(CDbException::kReadOnly, "Recordset is read-only", "");
    }
    for (auto& c : m_columns) {
        int size = c->m_value.m_columnSize;
        int decimals = c->m_value.m_decimals;
        c->m_value.SetNull();
        c->m_value.m_columnSize = size;
        c->m_value.m_decimals = decimals;
        c->m_bChanged = false;
    }
    if (m_stmt && !m_bLayoutOnly) {
        SQLFreeStmt(m_stmt.Get(), SQL_CLOSE);
    }
    m_bEOF = true;
    m_mode = Mode::kAdd;
}

void CDynBindSet::Edit() {
    if (!m_bOpen || m_bEOF) {
        throw CDbException(CDbException::kIllegalMode, "No current record.", "");
    }
    for (auto& c : m_columns) {
        c->m_original = c->m_value;
        c->m_bChanged = false;
    }
    // The update is a searched one and needs no cursor; an open cursor would
    // keep a read lock that blocks other writers (SQLite) while we wait on theirs.
    if (m_stmt) {
        SQLFreeStmt(m_stmt.Get(), SQL_CLOSE);
    }
    m_bEOF = true;
    m_mode = Mode::kEdit;
}

bool CDynBindSet::UpdateNewRow() {
    if (m_mode != Mode::kAdd) {
        throw CDbException(CDbException::kIllegalMode,
                           "Update or Delete operation attempted in an illegal mode.", "");
    }
    std::string cols, marks;
    std::vector<const CSspValue*> values;
    for (auto& c : m_columns) {
        if (!c->m_bChanged) {
            continue;
        }
        if (!values.empty()) {
            cols += ",";
            marks += ",";
        }
        cols += c->m_strName;
        marks += "?";
        values.push_back(&c->m_value);
    }
    if (values.empty()) {
        return false;
    }
    RunWithParameters("INSERT INTO " + m_tables.front() + " (" + cols + ") VALUES (" + marks + ")",
                      values, false);
    m_mode = Mode::kNone;
    for (auto& c : m_columns) {
        c->m_bChanged = false;
    }
    return true;
}

bool CDynBindSet::Update() {
    if (m_mode == Mode::kAdd) {
        return UpdateNewRow();
    }
    if (m_mode != Mode::kEdit) {
        throw CDbException(CDbException::kIllegalMode,
                           "Update or Delete operation attempted in an illegal mode.", "");
    }
    std::string set, where;
    std::vector<const CSspValue*> values;
    for (auto& c : m_columns) {
        if (!c->m_bChanged) {
            continue;
        }
        set += (values.empty() ? "" : ",") + c->m_strName + "=?";
        values.push_back(&c->m_value);
    }
    if (values.empty()) {
        m_mode = Mode::kNone;
        return false;
    }
    for (auto& c : m_columns) {
        if (!Identifying(*c)) {
            continue;
        }
        if (!where.empty()) {
            where += " AND ";
        }
        if (c->m_original.IsText() && c->m_original.IsNull()) {
            // Empty text and NULL both read as no text.
            where += "(" + c->m_strName + " IS NULL OR " + c->m_strName + " = '')";
        } else if (c->m_original.IsNull()) {
            where += c->m_strName + " IS NULL";
        } else {
            where += c->m_strName + "=?";
            values.push_back(&c->m_original);
        }
    }
    // The row must still match the query that found it, or nothing changes.
    if (!m_strFilter.empty()) {
        where = "(" + m_strFilter + ")" + (where.empty() ? "" : " AND " + where);
    }
    if (where.empty()) {
        throw CSspException("The record to update cannot be identified by its columns.");
    }
    std::string sql = "UPDATE " + m_tables.front() + " SET " + set + " WHERE " + where;
    RunWithParameters(sql, values, true);
    m_mode = Mode::kNone;
    for (auto& c : m_columns) {
        c->m_bChanged = false;
    }
    return true;
}

void CDynBindSet::RunWithParameters(const std::string& sql,
                                    const std::vector<const CSspValue*>& values,
                                    bool mustAffectRow) {
    if (m_tables.empty()) {
        throw CSspException("Table name not found in SQL INSERT.");
    }
    COdbcHandle stmt(SQL_HANDLE_STMT, m_pDb->Handle());
    OnSetOptions(stmt.Get());
    std::deque<COdbcParam> params(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        OdbcBindParameter(stmt.Get(), static_cast<SQLUSMALLINT>(i + 1), *values[i], params[i]);
    }
    const SQLRETURN rc = COdbcConnection::ExecDirect(stmt.Get(), sql);
    if (rc == SQL_NO_DATA) {
        if (mustAffectRow) {
            throw CDbException(CDbException::kNoRowsAffected,
                               "No rows were affected by the update or delete operation.", "");
        }
        return;
    }
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt.Get());
    if (mustAffectRow) {
        SQLLEN rows = 0;
        SQLRowCount(stmt.Get(), &rows);
        if (rows == 0) {
            throw CDbException(CDbException::kNoRowsAffected,
                               "No rows were affected by the update or delete operation.", "");
        }
    }
}
