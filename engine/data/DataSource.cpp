#include "engine/data/DataSource.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "engine/data/DbException.h"
#include "engine/data/UniqueIdGenerator.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/ConnectString.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"

namespace {

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

std::string Arg(const char* p) {
    return p ? std::string(p) : std::string();
}

}  // namespace

long CurrentThreadId() {
    return static_cast<long>(gettid());
}

CDataSource::CDataSource(std::string connect)
    : m_strConnect(std::move(connect)), m_tLastUse(static_cast<int64_t>(std::time(nullptr))) {}

CDataSource::~CDataSource() {
    try {
        DoCommand("Close");
    } catch (const CSspException&) {
    }
}

void CDataSource::AddUser() {
    std::lock_guard lock(m_lock);
    ++m_nUsers;
}

void CDataSource::RemoveUser() {
    std::lock_guard lock(m_lock);
    --m_nUsers;
}

int CDataSource::Users() {
    std::lock_guard lock(m_lock);
    return m_nUsers;
}

void CDataSource::SetLastUse(int64_t t) {
    std::lock_guard lock(m_lock);
    m_tLastUse = t;
}

int64_t CDataSource::GetLastUse() {
    std::lock_guard lock(m_lock);
    return m_tLastUse;
}

bool CDataSource::IsConnected() {
    std::lock_guard lock(m_lock);
    return m_db.IsOpen();
}

int CDataSource::ConnectCount() {
    std::lock_guard lock(m_lock);
    return m_nConnects;
}

bool CDataSource::InTransaction() {
    std::lock_guard lock(m_lock);
    return m_bInTrans;
}

long CDataSource::OpenerThread() {
    std::lock_guard lock(m_lock);
    return m_dwOpenerThread;
}

std::string CDataSource::GetDbmsName() {
    std::lock_guard lock(m_lock);
    DoCommand("GetDbmsInfo");
    return m_strDbmsName;
}

std::string CDataSource::GetDbmsVersion() {
    std::lock_guard lock(m_lock);
    DoCommand("GetDbmsInfo");
    return m_strDbmsVersion;
}

std::string CDataSource::GetConnectStringValue(const std::string& connect, const std::string& key) {
    return ConnectStringValue(connect, key);
}

std::string CDataSource::MakeConnectString(const std::string& dsn, const std::string& uid,
                                           const std::string& pwd) {
    auto value = [](const std::string& v) {
        if (v.find_first_of(";}") == std::string::npos && (v.empty() || v.front() != '{')) {
            return v;
        }
        return "{" + DoubledChar(v, '}') + "}";
    };
    return "DSN=" + value(dsn) + ";UID=" + value(uid) + ";PWD=" + value(pwd);
}

int CDataSource::DoCommand(const char* command, const char* first, const char* second,
                           const char* third) {
    std::lock_guard lock(m_lock);
    std::string cmd = Arg(command);
    auto is = [&](const char* name) { return strcasecmp(cmd.c_str(), name) == 0; };
    try {
        if (is("GetUid")) {
            if (!m_db.IsOpen()) {
                Open();
            }
            CUniqueIdGenerator ids(m_db);
            return ids.GetUid(Arg(first), Arg(second), Arg(third));
        }
        if (is("Open")) {
            Open();
        } else if (is("Close")) {
            Close();
        } else if (is("CloseIfNoOneUsesIt")) {
            if (m_nUsers == 0) {
                Close();
            }
        } else if (is("GetDbmsInfo")) {
            GetDbmsInfo();
        } else if (is("ExecuteSQL")) {
            if (!m_db.IsOpen()) {
                Open();
            }
            m_db.ExecuteSQL(Arg(first));
        } else if (is("BeginTrans")) {
            BeginTrans();
        } else if (is("CommitTrans")) {
            CommitTrans();
        } else if (is("Rollback")) {
            Rollback();
        } else {
            throw CSspException("Bad datasource command: [" + cmd + "]");
        }
    } catch (const CDbException& e) {
        RaiseCommandError(e);
    }
    return 1;
}

void CDataSource::RaiseDbError(const CDbException& e) {
    std::lock_guard lock(m_lock);
    RaiseCommandError(e);
}

void CDataSource::RaiseCommandError(const CDbException& e) {
    std::string text;
    const std::string& state = e.m_strStateNativeOrigin;
    if (IsConnectionLost(e)) {
        try {
            Close();
        } catch (const CSspException&) {
            // The connection is gone either way; report the break, not the close.
        }
        text = g_msg.m_connectionBroken;
    } else if (AsciiStartsWithNoCase(e.m_strError, "ORA-03127")) {
        text = std::string(g_msg.m_forceLongColumns) + e.m_strError;
    } else {
        text = e.m_strError.empty() ? state : e.m_strError;
    }
    text += " ODBC data source used: [" + Dsn() + "].";
    throw CSspException(text);
}

void CDataSource::Open() {
    if (m_db.IsOpen()) {
        return;
    }
    try {
        m_db.Open(m_strConnect);
        m_dwOpenerThread = CurrentThreadId();
        ++m_nConnects;
    } catch (const CDbException& e) {
        std::string text;
        if (Contains(e.m_strStateNativeOrigin, ":IM002")) {
            char buf[512];
            std::snprintf(buf, sizeof(buf), g_msg.m_dataSourceNotFound, Dsn().c_str());
            text = buf;
        } else if (Contains(e.m_strStateNativeOrigin, ":08001") ||
                   AsciiStartsWithNoCase(e.m_strError, "ORA-12203")) {
            text = g_msg.m_connectFailed;
        }
        text += " ";
        text += e.m_strError;
        throw CSspException(text);
    }
}

void CDataSource::Close() {
    // A transaction cannot outlive its connection.
    m_bInTrans = false;
    if (!m_db.IsOpen()) {
        return;
    }
    try {
        m_db.Close();
    } catch (const CDbException& e) {
        char buf[512];
        std::snprintf(buf, sizeof(buf),
                      "Error when thread [%ld] closes database connection [%s] opened by thread "
                      "[%ld]. If problem persists, please set connection idle timeout in Velmorin "
                      "Server Settings to 0. ",
                      CurrentThreadId(), Dsn().c_str(), m_dwOpenerThread);
        throw CSspException(std::string(buf) + " " + e.m_strError);
    }
}

void CDataSource::BeginTrans() {
    if (m_bInTrans) {
        throw CSspException(g_msg.m_nestedTransactions);
    }
    if (!m_db.IsOpen()) {
        Open();
    }
    if (!m_db.CanTransact()) {
        return;
    }
    SQLRETURN rc = m_db.SetAutoCommit(false);
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) {
        m_bInTrans = true;
        return;
    }
    CDbException e = CDbException::FromHandle(SQL_HANDLE_DBC, m_db.Handle(), rc);
    if (Contains(e.m_strStateNativeOrigin, ":S1011")) {
        e.m_strError += "\r\nMake sure all SQL objects are closed before calling beginTransaction.";
    }
    throw e;
}

bool CDataSource::LeaveTransaction() {
    const bool wasInTrans = m_bInTrans;
    m_bInTrans = false;
    return wasInTrans && m_db.IsOpen();
}

void CDataSource::CommitTrans() {
    if (!LeaveTransaction()) {
        return;
    }
    SQLRETURN rc = m_db.EndTran(true);
    if (!SQL_SUCCEEDED(rc)) {
        // Leave the connection as a plain autocommit one, not half in a transaction.
        m_db.EndTran(false);
        m_db.SetAutoCommit(true);
        throw CSspException(g_msg.m_commitFailed);
    }
    m_db.SetAutoCommit(true);
}

void CDataSource::Rollback() {
    if (!LeaveTransaction()) {
        return;
    }
    SQLRETURN rc = m_db.EndTran(false);
    CDbException failure(0, "", "");
    bool failed = !SQL_SUCCEEDED(rc);
    if (failed) {
        failure = CDbException::FromHandle(SQL_HANDLE_DBC, m_db.Handle(), rc);
    }
    m_db.SetAutoCommit(true);
    if (failed) {
        throw failure;
    }
}

void CDataSource::GetDbmsInfo() {
    if (!m_db.IsOpen()) {
        Open();
    }
    if (!m_strDbmsName.empty()) {
        return;
    }
    m_strDbmsName = m_db.GetInfoText(SQL_DBMS_NAME, 64);
    m_strDbmsVersion = m_db.GetInfoText(SQL_DBMS_VER, 128);
}

std::string MakeUseDataSourceConnection(const CSspCall& call, const char* position) {
    if (call.ArgCount() == 1) {
        std::string text = call.GetParamStr(0);
        if (text.size() < 5) {
            throw CSspException("Invalid ODBC connection string", position);
        }
        return text.substr(5);
    }
    if (call.ArgCount() == 3) {
        return CDataSource::MakeConnectString(call.GetParamStr(0), call.GetParamStr(1),
                                              call.GetParamStr(2));
    }
    throw CSspException(g_msg.m_missingParameter, position);
}

std::string MakeUseDataSourceConnection(const CSspCall& call) {
    return MakeUseDataSourceConnection(call, call.m_pPos);
}
