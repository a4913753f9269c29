#include "engine/data/OdbcHandle.h"

#include "engine/data/DbException.h"

COdbcHandle::COdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type) {
    SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        m_handle = SQL_NULL_HANDLE;
        SQLSMALLINT parentType = type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
        throw CDbException::FromHandle(parentType, parent, rc);
    }
}

COdbcHandle& COdbcHandle::operator=(COdbcHandle&& other) noexcept {
    if (this != &other) {
        Free();
        m_type = other.m_type;
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void COdbcHandle::Free() {
    if (m_handle != SQL_NULL_HANDLE) {
        SQLFreeHandle(m_type, m_handle);
        m_handle = SQL_NULL_HANDLE;
    }
}

SQLHENV OdbcEnvironment() {
    // Built once and kept for the life of the process: connections of static
    // objects may still be closed during exit.
    static SQLHENV env = [] {
        SQLHENV h = SQL_NULL_HENV;
        if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h) != SQL_SUCCESS) {
            throw CDbException(SQL_ERROR, "Failed to allocate the ODBC environment.", "");
        }
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
        return h;
    }();
    return env;
}

SQLSMALLINT OdbcEngineType(SQLSMALLINT sqlType) {
    switch (sqlType) {
        case SQL_TYPE_DATE:
            return SQL_DATE;
        case SQL_TYPE_TIME:
            return SQL_TIME;
        case SQL_TYPE_TIMESTAMP:
            return SQL_TIMESTAMP;
        case SQL_BIGINT:
        case SQL_TINYINT:
        case SQL_BIT:
            return SQL_INTEGER;
        default:
            return sqlType;
    }
}
