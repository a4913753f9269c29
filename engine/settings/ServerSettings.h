#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/foundation/VersionKey.h"
#include "engine/settings/MimeMap.h"
#include "engine/settings/TaskEntry.h"

// Which program's rules Load and the constructor follow. The studio uses the server's.
enum class SettingsBuild { kServer, kConsole };

// The configuration that the server, the studio and the console share, kept in the settings
// store under the installation root (engine/foundation/SettingsStore.h).
//
// The members named after a stored value hold that value as loaded (with the defaults and
// corrections below); switches are stored as "yes"/"no". The object is filled before the
// servers start and read without a lock afterwards; only the task table is shared with running
// threads, under TaskLock().
class CServerSettings {
public:
    // Free/in-use answer for one address and port; kNoSocket when no socket could be made.
    enum class PortState { kFree, kInUse, kNoSocket };
    using PortProbe = std::function<PortState(const std::string& address, int port)>;
    // The host's non-loopback IPv4 addresses in dotted form, first one first, or the step that
    // failed: the host name, or the listing of its addresses.
    enum class HostListing { kListed, kNoHostName, kNoAddresses };
    using AddressLister = std::function<HostListing(std::vector<std::string>& addresses)>;
    using Clock = std::function<std::time_t()>;

    // The most task rows and MIME rows a load reads, whatever the stored counts say: the row
    // numbers are written with two and three digits.
    static constexpr int kMaxTasks = 99;
    static constexpr int kMaxMimeRows = 999;

    // Defaults, not loaded, for the program whose root folder is GetRootFolder().
    explicit CServerSettings(SettingsBuild build = SettingsBuild::kServer);
    // The same over the store of another root folder (tests, tools).
    CServerSettings(const std::string& rootFolder, SettingsBuild build);
    ~CServerSettings();

    CServerSettings(const CServerSettings&) = delete;
    CServerSettings& operator=(const CServerSettings&) = delete;

    // Loads every value. An empty "GeneralTcpipAddress" counts as missing: the address is then
    // chosen as for a store without one (every interface takes an explicit "0.0.0.0").
    // Console rules: false when the store cannot be read or the task table
    // cannot be loaded; a missing "GeneralTcpipPort" runs AutoCorrectPort and writes the address
    // and port back. Server rules: always true, each unreadable value taking its default; also
    // reads "EncryptFileID", "SmtpTimeout", "Pop3Timeout" and "EmKeepSentMail", and writes a new
    // "FileTokenKey" when the store holds none (engine/settings/FileTokenKey.h).
    // Fewer than six stored task rows reset the table to the default rows and save it.
    bool Load();

    // Writes every setting the console manages (not the log switches, not the server-only
    // values) in one atomic replacement of the store. False when the write fails; the store is
    // then unchanged and the changed flags stay set.
    bool Save();

    // Writes "DbOdbcConnectString" alone.
    bool SaveConnectString();

    // Writes the task rows and "TaskCount"; clears m_tasksChanged on success.
    bool SaveTasks();

    // Writes only each row's "TaskNNScript" (the scripts' save through the Server object).
    bool SaveTaskScripts();

    // Reads the task rows (at most kMaxTasks, each with its next run computed). Fewer than six
    // rows reset the table to the default rows and write them back (a stored "TaskCount" also
    // logs "Default scripts missing. List of scripts has been reset."). Clears m_tasksChanged.
    // An unreadable store gives the default rows. True.
    bool LoadTasks();

    // True when `other` has its tasks- or MIME-changed flag set, or when any saved setting
    // differs between the two (texts exactly). The log switches are not compared.
    bool IsDifferent(const CServerSettings& other) const;

    // Keeps `address` (false) when it is one of the host's addresses; otherwise replaces it by
    // the first of them (true). A failure logs "Failed to get local host name" or "Failed to
    // get local host hostent" and keeps the text; so does a host with no such address.
    bool GetLocalAddress(std::string& address);

    // Looks for a free port from `port`: 80..8079 jump to 8080, then one by one up to 8083.
    // Sets `port` to the free one, or logs "Failed to find an available TCP port. Please set the
    // port yourself in Settings | General Page." and keeps it. False only when no socket could
    // be made ("Failed create socket when trying to correct TCP port" is logged).
    bool AutoCorrectPort(const std::string& address, std::string& port);

    // The default text encoding of the host (engine/settings/CharsetTable.h).
    static std::string GetDefaultCharset();

    // The content type for an extension (no point): the map, its "*" row, then
    // "application/octet-stream".
    std::string GetContentType(const std::string& extension) const;

    // The upload limit in bytes (GeneralMaxUpload megabytes), computed in 64 bits.
    int64_t GetUploadLimitBytes() const;

    // Task table. Callers outside these members hold TaskLock() while they touch m_tasks.
    void ClearTasks();
    bool SetDefaultTasks();
    // Recomputes a row's next run from the clock, under the task lock.
    void ComputeNextRun(CTaskEntry& row) const;
    // One "%d*%s*%s*%s\r\n" line per row: number (row + 2), name, schedule, state. The row
    // named "Email Sender" (any case) describes the mail it sends. The state is "Disabled", or with
    // `running` the next run (GetDateTimeStr2), else "Stopped". A '*', CR or LF inside a field is
    // shown as a blank.
    std::string GetTaskStatusLines(bool running) const;
    std::recursive_mutex& TaskLock() const { return m_lock; }

    SettingsBuild GetBuild() const { return m_build; }
    void SetBuild(SettingsBuild build) { m_build = build; }
    const std::string& RootFolder() const { return m_rootFolder; }
    CVersionKey& Key() { return *m_key; }

    // Replaceable collaborators (tests); an empty function restores the real one.
    void SetClock(Clock clock);
    void SetPortProbe(PortProbe probe);
    void SetAddressLister(AddressLister lister);
    std::time_t Now() const;

    // --- State -----------------------------------------------------------------------------
    bool m_loaded = false;
    bool m_tasksChanged = false;
    bool m_mimeChanged = false;
    uint32_t m_addressNumber = 0;  // GeneralTcpipAddress as inet_addr gives it (network order)
    std::vector<CTaskEntry> m_tasks;
    CMimeMap m_mimeMap;

    // --- Stored values, named as stored ----------------------------------------------------
    // Defaults, corrections, readers and saving: the rows in engine/settings/SettingRow.cpp.
    std::string GeneralOrganizationName;
    std::string GeneralTcpipAddress;
    std::string GeneralTcpipPort;
    int GeneralSessionTimeout;         // minutes
    int GeneralMaxUpload;              // megabytes
    int GeneralHeaderTimeout;          // seconds a client has for its whole request header
    int GeneralMaxPendingConnections;  // connections waiting for their header
    bool LogHttp;
    bool LogSmtp;
    bool LogPop3;
    std::string GeneralSslPort;
    std::string SecurityCertName;
    std::string SecurityCertIssuer;
    std::string SecurityCertSerial;
    std::string SecurityCertExpiration;
    std::string FQDN;
    std::string DbOdbcConnectString;
    bool DbAccessSerialize;
    bool DbConnectionThreadOwn;
    int DbConnectionIdleTimeout;
    std::string EmSmtpServer;
    std::string EmSmtpPort;
    std::string EmSmtpUserName;
    std::string EmSmtpPassword;
    std::string GeneralHttpAddr;
    std::string GeneralHttpsAddr;
    std::string EmPop3Server;
    std::string EmPop3Port;
    std::string EmImporterUserName;
    std::string EmImporterPassword;
    std::string EmImporterEmail;
    int EmMaxEmailOut;
    std::string EmDispatcherEmail;
    std::string EmAdminEmail;
    std::string ServiceDependency;
    std::string ServiceUserName;
    std::string ServicePassword;
    std::string MimeTextEncoding;
    // Read by the server and the studio only.
    bool EncryptFileID;
    std::string FileTokenKey;  // signs attachment tokens; made at the first start when missing
    int SmtpTimeout;           // seconds
    int Pop3Timeout;           // seconds
    bool EmKeepSentMail;

private:
    bool Read(const std::string& name, std::string& value);
    std::string ReadOr(const std::string& name, const std::string& fallback);
    void LoadMime();
    void SaveTasksStaged();
    void SaveMimeStaged();

    SettingsBuild m_build;
    std::string m_rootFolder;
    std::unique_ptr<CVersionKey> m_key;
    mutable std::recursive_mutex m_lock;
    Clock m_clock;
    PortProbe m_portProbe;
    AddressLister m_addressLister;
};

// Whether ListHostAddresses lists the loopback addresses (127.x): the server's own choice of
// address skips them, the console's address list offers them.
enum class HostLoopback { kSkip, kInclude };
// The host's IPv4 addresses of interfaces that are up, in dotted form, in the system's order.
CServerSettings::HostListing ListHostAddresses(std::vector<std::string>& addresses,
                                               HostLoopback loopback);

// The process's settings (server rules until a program says otherwise with SetBuild).
extern CServerSettings g_settings;
