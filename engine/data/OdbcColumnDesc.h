#pragma once

#include <sql.h>

#include <string>

// How a column describes itself, as a result column or a catalogue row.
struct COdbcColumnDesc {
    std::string m_strName;
    SQLSMALLINT m_nSqlType = 0;  // ODBC 2 code (see OdbcEngineType)
    SQLULEN m_nPrecision = 0;
    SQLSMALLINT m_nScale = 0;
    SQLSMALLINT m_nNullable = 0;
};
