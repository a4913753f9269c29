#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/data/DataSourcePool.h"
#include "engine/script/SessionRecord.h"
#include "engine/script/SspVarTable.h"

class CDataSource;
class CServerSettings;
class CSspApplication;
class CSspCall;
class CSspValue;

// Queues a mail to the administrator; the mail library installs one.
class CAdminMailer {
public:
    virtual ~CAdminMailer() = default;
    // True when the message went into the outbox.
    virtual bool Send(const std::string& to, const std::string& subject,
                      const std::string& content) = 0;
};

// The one global state of a running engine (g_serverContext): server variables, web
// applications by URL prefix, logged-on sessions in creation order, the open data sources and
// the map from URL prefix to ODBC connection string, and the Server members that live here.
//
// Thread-safety: every public member takes the context's one re-entrant lock for its whole
// run. Members that reach a data source or a session record take that object's own lock
// inside it, never the other way round. Sessions are handed out as shared references and
// data sources with a use count, so they stay valid after the lock is released.
class CServerContext {
public:
    using Clock = std::function<std::time_t()>;

    // Over `settings` (g_settings for the process's context). Nothing is opened.
    explicit CServerContext(CServerSettings& settings);
    ~CServerContext();
    CServerContext(const CServerContext&) = delete;
    CServerContext& operator=(const CServerContext&) = delete;

    // Deletes every server variable, application, session reference and data source, and
    // empties the prefix map.
    void Clear();

    // A GeneralSessionTimeout outside 0..1440 becomes 600. A DbOdbcConnectString shorter
    // than 5 characters gives -1; otherwise its text after the first five becomes the data
    // source of "/" and the result is 0.
    int InitDefaultDataSource();

    // Maps `prefix` to `connection` (replacing a different one).
    void SetDataSource(const std::string& connection, const std::string& prefix);
    // The connection string of the longest prefix (any case) that starts `path`, first
    // mapped on equal lengths; false when none does.
    bool FindConnection(const std::string& path, std::string& connection);
    // The opened data source for a page at `path`: the shared one of its connection string
    // with one more user, or, with DbConnectionThreadOwn, the calling thread's own one (kept
    // from its previous run when free, else a new one). Throws
    // CSspException "FileOrDir empty in finding DS" for an empty path, "Internal error. No
    // data source is defined. " without a mapping, and the data source's Open errors.
    CDataSource* AcquireDataSource(const std::string& path);
    // One user fewer; a private data source stays with its thread for the next run (see
    // CDataSourcePool::Release). `source` becomes null.
    void ReleaseDataSource(CDataSource*& source);
    // "CloseIfNoOneUsesIt" to every data source last used more than 120 whole minutes ago,
    // shared or kept by a thread.
    void CloseIdleDataSources();
    // One line per shared data source and private one in use: "<prefix>;" for each prefix of
    // its string, a tab, the string, a tab, the last use (date and time), a tab, "open" or
    // "closed", CR LF.
    std::string GetDataSourceInfo();

    // The application with the longest prefix (any case) of `path` ("/" for an empty path),
    // the first made on equal lengths; nullptr when none. Valid until Clear.
    CSspApplication* FindApplication(const std::string& path);
    // Makes an application named `path` when FindApplication finds none.
    void InitApplication(const std::string& path);
    // Each application's prefix followed by "; ".
    std::string GetAppInfo();

    // Drops expired sessions, then adds a new one with the SessionTimeout setting; its ID is
    // unique among the live sessions.
    CSessionRef CreateSession(const std::string& userId, const std::string& clientIp,
                              const std::string& appPath);
    // The session with exactly `id` whose secret is `secret`, its last access set to now;
    // nullptr when there is none.
    CSessionRef FindSession(const std::string& id, const std::string& secret);
    void RemoveSession(const std::string& id);
    // Removes every session whose user ID equals `userId` without regard to case.
    void RemoveUserSessions(const std::string& userId);
    // From the oldest on, removes sessions while they are expired under SessionTimeout.
    void DropExpiredSessions();
    // One "%s\n%s\n%s\n%s\n%s" line per session (user ID, client address, start time, last
    // access, application path), in ascending order without regard to case.
    std::vector<std::string> ListSessions();
    std::size_t SessionCount();

    // Sets a server variable; "ImporterScript", "Task3Script", "Task4Script" and
    // "Task5Script" (any case) set the script of task rows 1 to 4 instead, under the settings'
    // task lock (taken after the context's): a path relative to the root folder or a full
    // path inside it, folded; one that leaves the root raises an error.
    void SetVar(const std::string& name, const CSspValue& value);
    // Server.CopyFile(source, destination): 1 when the file under the web root was copied
    // over the other; paths are folded and refused (0) when they leave the web root.
    int CopyFile(CSspCall& call);
    // Server.SendMail(to, subject, content): 1 when the mail was queued.
    int SendAdminMail(CSspCall& call);
    // The current date-time (type 9).
    void GetDateTimeValue(CSspValue& value);
    // Every Server member that the interpreter does not answer itself.
    void CallServerMember(CSspCall& call, CSspValue& result);
    // App.<member> for a page in `path`: Init, IsValid, else the application's own member.
    void CallAppMember(const std::string& path, CSspCall& call, CSspValue& result);

    // The lock a run holds from start to end when DbAccessSerialize is on (see
    // CSspContextLink::LockRun).
    std::unique_lock<std::recursive_mutex> LockRun();
    std::recursive_mutex& Lock() { return m_lock; }

    // Replaceable time source (tests); an empty function restores the system clock.
    void SetClock(Clock clock);
    std::time_t Now();
    // The mail queue of SendMail; nullptr (the default) logs as for a missing SMTP host.
    void SetAdminMailer(CAdminMailer* mailer);
    // A random number drawn at construction.
    int GetRandom() const { return m_nRandom; }
    CServerSettings& Settings() { return m_settings; }

private:
    // The Server member table and its handlers.
    struct CMembers;

    void RemoveSessionAt(std::size_t index);
    void RequireTasks(std::size_t rows, const char* pos);

    CServerSettings& m_settings;
    const int m_nRandom;
    CSspVarTable m_vars;
    std::vector<std::unique_ptr<CSspApplication>> m_apps;
    std::vector<CSessionRef> m_sessions;
    std::recursive_mutex m_lock;
    CDataSourcePool m_dataSources;
    std::vector<std::pair<std::string, std::string>> m_prefixes;  // prefix, connection
    Clock m_clock;
    CAdminMailer* m_pMailer = nullptr;
};

extern CServerContext g_serverContext;
