#include "engine/data/ColumnSet.h"

#include <vector>

#include "engine/data/DbException.h"
#include "engine/data/OdbcConnection.h"

namespace {

// An empty parameter is passed as null, which matches everything.
SQLCHAR* Param(std::vector<SQLCHAR>& buf, const std::string& text) {
    if (text.empty()) {
        return nullptr;
    }
    buf.assign(text.begin(), text.end());
    buf.push_back(0);
    return buf.data();
}

std::string TextColumn(SQLHSTMT stmt, SQLUSMALLINT n) {
    char buf[256];
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, n, SQL_C_CHAR, buf, sizeof(buf), &ind);
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt);
    if (rc == SQL_NO_DATA || ind == SQL_NULL_DATA) {
        return std::string();
    }
    return std::string(buf);
}

long LongColumn(SQLHSTMT stmt, SQLUSMALLINT n) {
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, n, SQL_C_SLONG, &v, sizeof(v), &ind);
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt);
    return (rc == SQL_NO_DATA || ind == SQL_NULL_DATA) ? 0 : v;
}

}  // namespace

void CColumnSet::Open() {
    Close();
    try {
        m_stmt = COdbcHandle(SQL_HANDLE_STMT, m_db.Handle());
        std::vector<SQLCHAR> q, o, t;
        SQLCHAR* pq = Param(q, m_strQualifierParam);
        SQLCHAR* po = Param(o, m_strOwnerParam);
        SQLCHAR* pt = Param(t, m_strTableNameParam);
        SQLRETURN rc;
        do {
            rc = SQLColumns(m_stmt.Get(), pq, pq ? SQL_NTS : 0, po, po ? SQL_NTS : 0, pt,
                            pt ? SQL_NTS : 0, nullptr, 0);
        } while (rc == SQL_STILL_EXECUTING);
        OdbcCheck(rc, SQL_HANDLE_STMT, m_stmt.Get());
        Fetch();
    } catch (...) {
        Close();
        throw;
    }
}

void CColumnSet::MoveNext() {
    if (!m_bEOF) {
        Fetch();
    }
}

void CColumnSet::Close() {
    m_stmt.Free();
    m_bEOF = true;
}

void CColumnSet::Fetch() {
    SQLHSTMT stmt = m_stmt.Get();
    SQLRETURN rc = SQLFetch(stmt);
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt);
    m_bEOF = rc == SQL_NO_DATA;
    if (m_bEOF) {
        return;
    }
    m_strTableQualifier = TextColumn(stmt, 1);
    m_strTableOwner = TextColumn(stmt, 2);
    m_strTableName = TextColumn(stmt, 3);
    m_strColumnName = TextColumn(stmt, 4);
    m_nDataType = OdbcEngineType(static_cast<SQLSMALLINT>(LongColumn(stmt, 5)));
    m_strTypeName = TextColumn(stmt, 6);
    m_nPrecision = LongColumn(stmt, 7);
    m_nLength = LongColumn(stmt, 8);
    m_nScale = static_cast<short>(LongColumn(stmt, 9));
    m_nRadix = static_cast<short>(LongColumn(stmt, 10));
    m_nNullable = static_cast<short>(LongColumn(stmt, 11));
}
