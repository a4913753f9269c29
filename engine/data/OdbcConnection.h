#pragma once

#include <string>

#include "engine/data/ColumnCatalogue.h"
#include "engine/data/OdbcHandle.h"

// One ODBC connection (the driver manager's connection handle). Not
// thread-safe: CDataSource serialises its users. Failures throw CDbException.
class COdbcConnection {
public:
    COdbcConnection() = default;
    ~COdbcConnection();
    COdbcConnection(const COdbcConnection&) = delete;
    COdbcConnection& operator=(const COdbcConnection&) = delete;

    // Connects with the connection string as given, never prompting.
    // On failure the object stays closed.
    void Open(const std::string& connect);
    // Disconnects and frees the handle; throws when the driver reports an
    // error on disconnect, after which the object is closed all the same.
    void Close();
    bool IsOpen() const { return static_cast<bool>(m_hdbc); }
    // The connection string the driver completed on Open (its SQLDriverConnect out string).
    const std::string& CompletedConnectString() const { return m_strCompleted; }
    SQLHDBC Handle() const { return m_hdbc.Get(); }

    // Whether the driver supports transactions (read when the connection opened).
    bool CanTransact() const { return m_bCanTransact; }

    // Runs a statement directly; results, if any, are discarded.
    void ExecuteSQL(const std::string& sql);
    // Runs `sql` directly on `stmt`, waiting out SQL_STILL_EXECUTING; the driver's last code.
    static SQLRETURN ExecDirect(SQLHSTMT stmt, const std::string& sql);

    // Raw return codes, so callers can tell SQL_NO_DATA and SQL_SUCCESS_WITH_INFO apart.
    SQLRETURN SetAutoCommit(bool on);
    // Also makes every connection read its catalogue afresh: the transaction may have
    // changed or published a schema.
    SQLRETURN EndTran(bool commit);

    // The catalogue rows this connection has read; emptied when it closes.
    CColumnCatalogue& Catalogue() { return m_catalogue; }

    // A text item of SQLGetInfo, cut at its first zero byte.
    std::string GetInfoText(SQLUSMALLINT item, size_t bufferSize);

private:
    COdbcHandle m_hdbc;
    bool m_bCanTransact = false;
    CColumnCatalogue m_catalogue;
    std::string m_strCompleted;
};
