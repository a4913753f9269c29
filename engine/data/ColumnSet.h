#pragma once

#include <string>

#include "engine/data/OdbcHandle.h"

class COdbcConnection;

// The catalogue's description of a table's columns (ODBC SQLColumns), read
// row by row. An empty parameter matches every value. ODBC failures throw
// CDbException; a failed Open leaves the set closed.
class CColumnSet {
public:
    explicit CColumnSet(COdbcConnection& db) : m_db(db) {}

    std::string m_strQualifierParam;
    std::string m_strOwnerParam;
    std::string m_strTableNameParam;

    // The current row.
    std::string m_strTableQualifier;
    std::string m_strTableOwner;
    std::string m_strTableName;
    std::string m_strColumnName;
    short m_nDataType = 0;  // ODBC 2 code (see OdbcEngineType)
    std::string m_strTypeName;
    long m_nPrecision = 0;
    long m_nLength = 0;
    short m_nScale = 0;
    short m_nRadix = 0;
    short m_nNullable = 0;

    // Runs the catalogue query and fetches the first row.
    void Open();
    bool IsEOF() const { return m_bEOF; }
    void MoveNext();
    void Close();

private:
    void Fetch();

    COdbcConnection& m_db;
    COdbcHandle m_stmt;
    bool m_bEOF = true;
};
