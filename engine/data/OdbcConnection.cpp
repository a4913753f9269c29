#include "engine/data/OdbcConnection.h"

#include <algorithm>
#include <vector>

#include "engine/data/DbException.h"

COdbcConnection::~COdbcConnection() {
    try {
        Close();
    } catch (const CDbException&) {
        // The handle is freed regardless; nobody is left to tell.
    }
}

void COdbcConnection::Open(const std::string& connect) {
    if (IsOpen()) {
        return;
    }
    COdbcHandle dbc(SQL_HANDLE_DBC, OdbcEnvironment());
    SQLSetConnectAttr(dbc.Get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    std::vector<SQLCHAR> in(connect.begin(), connect.end());
    in.push_back(0);
    SQLCHAR out[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnect(dbc.Get(), nullptr, in.data(), SQL_NTS, out, sizeof(out),
                                    &outLen, SQL_DRIVER_NOPROMPT);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        throw CDbException::FromHandle(SQL_HANDLE_DBC, dbc.Get(), rc);
    }
    SQLUSMALLINT txn = SQL_TC_NONE;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc.Get(), SQL_TXN_CAPABLE, &txn, sizeof(txn), nullptr))) {
        txn = SQL_TC_NONE;
    }
    m_bCanTransact = txn != SQL_TC_NONE;
    m_strCompleted.assign(
        reinterpret_cast<const char*>(out),
        std::min<size_t>(outLen > 0 ? static_cast<size_t>(outLen) : 0, sizeof(out) - 1));
    m_hdbc = std::move(dbc);
}

void COdbcConnection::Close() {
    if (!IsOpen()) {
        return;
    }
    COdbcHandle dbc = std::move(m_hdbc);
    m_bCanTransact = false;
    m_catalogue.Clear();
    SQLRETURN rc = SQLDisconnect(dbc.Get());
    if (rc == SQL_ERROR) {
        // A pending transaction blocks the disconnect; roll it back and retry.
        SQLEndTran(SQL_HANDLE_DBC, dbc.Get(), SQL_ROLLBACK);
        rc = SQLDisconnect(dbc.Get());
        if (rc == SQL_ERROR) {
            throw CDbException::FromHandle(SQL_HANDLE_DBC, dbc.Get(), rc);
        }
    }
}

SQLRETURN COdbcConnection::ExecDirect(SQLHSTMT stmt, const std::string& sql) {
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    text.push_back(0);
    SQLRETURN rc;
    do {
        rc = SQLExecDirect(stmt, text.data(), SQL_NTS);
    } while (rc == SQL_STILL_EXECUTING);
    return rc;
}

void COdbcConnection::ExecuteSQL(const std::string& sql) {
    COdbcHandle stmt(SQL_HANDLE_STMT, m_hdbc.Get());
    const SQLRETURN rc = ExecDirect(stmt.Get(), sql);
    // After the statement, failed or not: a catalogue read meanwhile may predate its change.
    CColumnCatalogue::NoteStatement(sql);
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt.Get());
}

SQLRETURN COdbcConnection::SetAutoCommit(bool on) {
    return SQLSetConnectAttr(
        m_hdbc.Get(), SQL_ATTR_AUTOCOMMIT,
        reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
}

SQLRETURN COdbcConnection::EndTran(bool commit) {
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, m_hdbc.Get(), commit ? SQL_COMMIT : SQL_ROLLBACK);
    CColumnCatalogue::SchemaMayHaveChanged();
    return rc;
}

std::string COdbcConnection::GetInfoText(SQLUSMALLINT item, size_t bufferSize) {
    std::vector<char> buf(bufferSize, 0);
    SQLSMALLINT len = 0;
    SQLRETURN rc =
        SQLGetInfo(m_hdbc.Get(), item, buf.data(), static_cast<SQLSMALLINT>(bufferSize - 2), &len);
    OdbcCheck(rc, SQL_HANDLE_DBC, m_hdbc.Get());
    buf.back() = 0;
    return std::string(buf.data());
}
