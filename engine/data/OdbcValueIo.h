#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "engine/foundation/SspValue.h"

// Moving CSspValue contents across the ODBC boundary, by the value's type
// group: integers (any integer-like column, kept in 32 bits), reals, doubles,
// date-times (local time), time spans (read as text "[d ]h:m:s"), binary and
// long text (read in pieces, whole), and text of every other type (read whole
// up to a cap, whatever size the driver reports).

// One bound parameter's buffers; must stay at one address until the
// statement has run.
struct COdbcParam {
    SQLLEN ind = 0;
    std::string bytes;
    SQLINTEGER integer = 0;
    double dbl = 0;
    float real = 0;
    SQL_TIMESTAMP_STRUCT ts{};
    SQL_DATE_STRUCT date{};
};

// Binds v as input parameter number of stmt, typed after v (NULL markers
// become SQL NULL). Text goes as it is, never cut. Throws CDbException.
void OdbcBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, const CSspValue& v, COdbcParam& p);

// Reads result column number of the current row into v, whose type tag
// (set when the columns were bound) decides the conversion. Text columns are
// cut at maxColumnSize bytes. Throws CDbException.
void OdbcReadValue(SQLHSTMT stmt, SQLUSMALLINT number, CSspValue& v, int maxColumnSize);

// Reads one column with SQLGetData in pieces (cType SQL_C_CHAR or
// SQL_C_BINARY), dropping each piece's terminator; at most cap bytes. False
// when the column is NULL.
bool OdbcReadPieces(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT cType, size_t cap,
                    std::string& out);
