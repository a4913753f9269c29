#pragma once

#include <sql.h>
#include <sqlext.h>

#include <stdexcept>
#include <string>

// An ODBC failure on its way to the engine's error handlers, which turn it into
// script errors. It carries the driver's return code (or one of the record-set
// codes below), the diagnostic message texts and the state text, one
// "State:%s,Native:%ld,Origin:%s" line per diagnostic record, so handlers can
// look for ":08S01", ":IM002" and the like.
class CDbException : public std::runtime_error {
public:
    // Codes the record-set layer raises itself (never returned by a driver).
    static constexpr int kIllegalMode = 1005;     // update outside add or edit
    static constexpr int kNoRowsAffected = 1008;  // a searched update matched no row
    static constexpr int kReadOnly = 1009;        // add on a set that cannot append

    CDbException(int retCode, std::string error, std::string stateText);

    // Collects every diagnostic record of the handle. States are reported in
    // their ODBC 2 form (HYxxx as S1xxx) whatever the driver speaks.
    static CDbException FromHandle(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc);

    int m_nRetCode;
    std::string m_strError;
    std::string m_strStateNativeOrigin;
};

// Throws CDbException built from the handle unless rc is SQL_SUCCESS,
// SQL_SUCCESS_WITH_INFO or SQL_NO_DATA. Returns rc.
SQLRETURN OdbcCheck(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle);

// Whether the error means the connection is gone (so it must be closed and
// opened afresh): state 08S01, an invalid handle, Oracle's 3114, and the
// states PostgreSQL gives a connection its server ended (08003, 08006,
// 57P01, 57P02).
bool IsConnectionLost(const CDbException& e);

// ODBC 2 spelling of a five-character SQLSTATE.
std::string OdbcState2(const std::string& state);
