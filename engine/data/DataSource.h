#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "engine/data/OdbcConnection.h"

class CDbException;
class CSspCall;

// One ODBC connection shared by the pages and scripts of the engine. Every
// public operation takes the object's re-entrant lock, so one connection runs
// one command at a time whatever thread asks. Every failure leaves as a
// CSspException whose text names the data source ("... ODBC data source used:
// [dsn].") or, for Open and Close, carries their own texts.
//
// Record sets (CDynBindSet) work on Connection() outside the lock; callers
// serialise whole page runs where that matters.
class CDataSource {
public:
    // Stores the connection string; nothing is opened. One user, last use now.
    explicit CDataSource(std::string connect);
    // Runs "Close"; errors are swallowed.
    ~CDataSource();
    CDataSource(const CDataSource&) = delete;
    CDataSource& operator=(const CDataSource&) = delete;

    // The one entry for all work. command is compared without regard to case:
    //   "GetUid" (table, column, registry table) -> the next unique id (or -1
    //            when every attempt lost a race);
    //   "Open", "Close", "CloseIfNoOneUsesIt", "GetDbmsInfo",
    //   "ExecuteSQL" (statement), "BeginTrans", "CommitTrans", "Rollback" -> 1.
    // Any other command raises "Bad datasource command: [%s]". Null arguments
    // are read as empty texts.
    int DoCommand(const char* command, const char* first = nullptr, const char* second = nullptr,
                  const char* third = nullptr);

    void AddUser();
    void RemoveUser();
    int Users();
    void SetLastUse(int64_t t);
    int64_t GetLastUse();

    // Connects first when needed; cached for the life of the object.
    std::string GetDbmsName();
    std::string GetDbmsVersion();

    bool IsConnected();
    // How many times "Open" has connected.
    int ConnectCount();
    bool InTransaction();
    long OpenerThread();
    const std::string& ConnectString() const { return m_strConnect; }
    // The DSN value of the connection string (for messages).
    std::string Dsn() const { return GetConnectStringValue(m_strConnect, "DSN"); }

    // The connection for record sets. Valid while the object lives; open only
    // after "Open".
    COdbcConnection& Connection() { return m_db; }
    std::recursive_mutex& Lock() { return m_lock; }

    // Raises the script error of an ODBC failure in work done on this source:
    // a lost connection is closed (the broken-connection text), otherwise the
    // driver's text; " ODBC data source used: [dsn]." follows.
    [[noreturn]] void RaiseDbError(const CDbException& e);

    // The text after "key=" (case-sensitive search) up to the next ';' or the
    // end; empty when the key is absent.
    static std::string GetConnectStringValue(const std::string& connect, const std::string& key);
    // "DSN=..;UID=..;PWD=.." with each value braced when it holds ';' or '}' or starts with
    // '{' ('}' doubled), so a page's text cannot add keys to the connection.
    static std::string MakeConnectString(const std::string& dsn, const std::string& uid,
                                         const std::string& pwd);

    // Set for a connection that belongs to one thread and serves its runs one at a time
    // (CDataSourcePool).
    bool m_bPrivate = false;

private:
    void Open();
    void Close();
    void BeginTrans();
    void CommitTrans();
    void Rollback();
    // Ends the transaction state; true when a transaction of an open connection is to end.
    bool LeaveTransaction();
    void GetDbmsInfo();
    // Builds the script error of an ODBC failure inside a command (and closes
    // a broken connection) - never returns.
    [[noreturn]] void RaiseCommandError(const CDbException& e);

    std::string m_strConnect;
    COdbcConnection m_db;
    bool m_bInTrans = false;
    int64_t m_tLastUse;
    std::string m_strDbmsVersion;
    std::string m_strDbmsName;
    long m_dwOpenerThread = 0;
    int m_nConnects = 0;
    int m_nUsers = 1;
    std::recursive_mutex m_lock;
};

// The calling thread's id as the engine prints it in messages.
long CurrentThreadId();

// The connection text of a UseDataSource call: one argument of at least 5 characters loses
// its first five (the "ODBC;" prefix), else "Invalid ODBC connection string"; three
// arguments give CDataSource::MakeConnectString of them; other counts "Missing parameter.".
// Errors are at `position`.
std::string MakeUseDataSourceConnection(const CSspCall& call, const char* position);
// The same with its errors at the call.
std::string MakeUseDataSourceConnection(const CSspCall& call);
