#include "engine/data/OdbcValueIo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "engine/data/DbException.h"
#include "engine/foundation/SspDateTime.h"

namespace {

// "[-][d ]h:m[:s[.fraction]]" into seconds; false when it is no time.
bool ParseSpan(const std::string& text, int64_t* seconds) {
    const char* p = text.c_str();
    while (*p == ' ') {
        ++p;
    }
    bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    long long parts[4] = {0, 0, 0, 0};
    int count = 0;
    long long days = 0;
    while (*p && count < 3) {
        char* end = nullptr;
        long long v = std::strtoll(p, &end, 10);
        if (end == p) {
            return false;
        }
        p = end;
        if (*p == ' ' && count == 0 && days == 0) {
            days = v;
            ++p;
            continue;
        }
        parts[count++] = v;
        if (*p != ':') {
            break;
        }
        ++p;
    }
    if (count < 2) {
        return false;
    }
    int64_t total = days * 86400 + parts[0] * 3600 + parts[1] * 60 + parts[2];
    *seconds = negative ? -total : total;
    return true;
}

}  // namespace

void OdbcBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, const CSspValue& v, COdbcParam& p) {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN size = 1;
    SQLSMALLINT digits = 0;
    SQLPOINTER data = nullptr;
    SQLLEN bufLen = 0;
    if (v.IsInteger()) {
        sqlType = SQL_INTEGER;
    } else if (v.IsReal()) {
        sqlType = SQL_REAL;
    } else if (v.IsDouble()) {
        sqlType = SQL_DOUBLE;
    } else if (v.IsDateTime()) {
        sqlType = v.m_type == SQL_DATE ? SQL_DATE : SQL_TIMESTAMP;
    } else if (v.IsTimeSpan()) {
        sqlType = SQL_TIME;
    } else if (v.IsBinary()) {
        sqlType = static_cast<SQLSMALLINT>(v.m_type);
    } else if (v.IsLongText()) {
        sqlType = SQL_LONGVARCHAR;
    } else if (v.IsDecimal()) {
        sqlType = static_cast<SQLSMALLINT>(v.m_type);
    }
    if (v.IsNull() && !v.IsTimeSpan()) {
        p.ind = SQL_NULL_DATA;
        if (sqlType == SQL_DATE || sqlType == SQL_TIMESTAMP) {
            size = sqlType == SQL_DATE ? 10 : 19;
        }
    } else if (v.IsInteger()) {
        cType = SQL_C_SLONG;
        p.integer = v.m_integer;
        data = &p.integer;
        size = 10;
    } else if (v.IsReal()) {
        cType = SQL_C_FLOAT;
        p.real = v.m_real;
        data = &p.real;
        size = 7;
    } else if (v.IsDouble()) {
        cType = SQL_C_DOUBLE;
        p.dbl = v.m_double;
        data = &p.dbl;
        size = 15;
    } else if (v.IsDateTime()) {
        time_t t = static_cast<time_t>(v.m_dateTime);
        std::tm tm{};
        localtime_r(&t, &tm);
        if (sqlType == SQL_DATE) {
            cType = SQL_C_DATE;
            p.date = {static_cast<SQLSMALLINT>(tm.tm_year + 1900),
                      static_cast<SQLUSMALLINT>(tm.tm_mon + 1),
                      static_cast<SQLUSMALLINT>(tm.tm_mday)};
            data = &p.date;
            size = 10;
        } else {
            cType = SQL_C_TIMESTAMP;
            p.ts = {static_cast<SQLSMALLINT>(tm.tm_year + 1900),
                    static_cast<SQLUSMALLINT>(tm.tm_mon + 1),
                    static_cast<SQLUSMALLINT>(tm.tm_mday),
                    static_cast<SQLUSMALLINT>(tm.tm_hour),
                    static_cast<SQLUSMALLINT>(tm.tm_min),
                    static_cast<SQLUSMALLINT>(tm.tm_sec),
                    0};
            data = &p.ts;
            size = 19;
        }
    } else {
        if (v.IsTimeSpan()) {
            int64_t s = v.m_timeSpan < 0 ? -v.m_timeSpan : v.m_timeSpan;
            char buf[48];
            std::snprintf(buf, sizeof(buf), "%s%02lld:%02d:%02d", v.m_timeSpan < 0 ? "-" : "",
                          static_cast<long long>(s / 3600), static_cast<int>(s / 60 % 60),
                          static_cast<int>(s % 60));
            p.bytes = buf;
        } else if (v.IsBinary() || v.IsLongText()) {
            p.bytes.assign(v.m_blob.View());
            if (v.IsBinary()) {
                cType = SQL_C_BINARY;
            }
        } else {
            p.bytes = v.m_text;
            if (v.IsDecimal()) {
                digits = static_cast<SQLSMALLINT>(std::max(0, v.m_decimals));
            }
        }
        p.ind = static_cast<SQLLEN>(p.bytes.size());
        data = p.bytes.data();
        bufLen = p.ind;
        size = std::max<SQLULEN>(1, p.bytes.size());
    }
    SQLRETURN rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, cType, sqlType, size, digits,
                                    data, bufLen, &p.ind);
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt);
}

bool OdbcReadPieces(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT cType, size_t cap,
                    std::string& out) {
    out.clear();
    const size_t term = cType == SQL_C_CHAR ? 1 : 0;
    size_t piece = std::min<size_t>(cap, 8192);
    bool first = true;
    while (true) {
        std::vector<char> buf(piece + term);
        SQLLEN ind = 0;
        SQLRETURN rc;
        do {
            rc = SQLGetData(stmt, number, cType, buf.data(), static_cast<SQLLEN>(buf.size()), &ind);
        } while (rc == SQL_STILL_EXECUTING);
        if (rc == SQL_NO_DATA) {
            return !first;
        }
        OdbcCheck(rc, SQL_HANDLE_STMT, stmt);
        first = false;
        if (ind == SQL_NULL_DATA) {
            return false;
        }
        size_t room = buf.size() - term;
        bool truncated =
            rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > room);
        size_t got = truncated ? room : std::min(static_cast<size_t>(ind), room);
        // Each piece of character data ends in the driver's terminator; it is
        // not part of the value.
        out.append(buf.data(), got);
        if (out.size() >= cap) {
            out.resize(cap);
            return true;
        }
        if (!truncated) {
            return true;
        }
        size_t left = ind == SQL_NO_TOTAL ? piece * 2 : static_cast<size_t>(ind) - got;
        piece = std::min(std::max<size_t>(left, 1), cap - out.size());
    }
}

void OdbcReadValue(SQLHSTMT stmt, SQLUSMALLINT number, CSspValue& v, int maxColumnSize) {
    // Reads the column as the fixed-size C type `cType` into `out`; NULL makes the value NULL
    // and gives false.
    auto readFixed = [&](SQLSMALLINT cType, auto& out) {
        SQLLEN ind = 0;
        OdbcCheck(SQLGetData(stmt, number, cType, &out, sizeof(out), &ind), SQL_HANDLE_STMT, stmt);
        if (ind == SQL_NULL_DATA) {
            v.SetNull();
            return false;
        }
        return true;
    };
    if (v.IsInteger()) {
        SQLBIGINT n = 0;
        if (readFixed(SQL_C_SBIGINT, n)) {
            v.m_integer = static_cast<std::int32_t>(static_cast<uint32_t>(n));
        }
        return;
    }
    if (v.IsReal()) {
        float f = 0;
        if (readFixed(SQL_C_FLOAT, f)) {
            v.m_real = f;
        }
        return;
    }
    if (v.IsDouble()) {
        double d = 0;
        if (readFixed(SQL_C_DOUBLE, d)) {
            v.m_double = d;
        }
        return;
    }
    if (v.IsDateTime()) {
        SQL_TIMESTAMP_STRUCT ts{};
        if (readFixed(SQL_C_TIMESTAMP, ts)) {
            int64_t t = CSspDateTime::MakeLocalTime(ts.year, ts.month, ts.day, ts.hour, ts.minute,
                                                    ts.second);
            v.m_dateTime = t < 0 ? 0 : t;
        }
        return;
    }
    std::string data;
    if (v.IsBinary() || v.IsLongText()) {
        bool present = OdbcReadPieces(stmt, number, v.IsBinary() ? SQL_C_BINARY : SQL_C_CHAR,
                                      static_cast<size_t>(0x7FFFFFFF), data);
        v.m_blob.SetLength(0);
        if (present) {
            v.m_blob.Assign(data.data(), data.size());
        }
        return;
    }
    bool present = OdbcReadPieces(stmt, number, SQL_C_CHAR,
                                  static_cast<size_t>(std::max(1, maxColumnSize)), data);
    if (v.IsTimeSpan()) {
        int64_t span = 0;
        v.m_timeSpan = present && ParseSpan(data, &span) ? span : 0;
        v.m_text = present ? data : std::string();
        return;
    }
    if (!present) {
        int size = v.m_columnSize;
        int decimals = v.m_decimals;
        v.SetNull();
        v.m_columnSize = size;
        v.m_decimals = decimals;
        return;
    }
    v.SetFromText(data);
}
