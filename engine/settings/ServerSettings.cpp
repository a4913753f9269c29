#include "engine/settings/ServerSettings.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/settings/CharsetTable.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/SettingRow.h"

namespace {

const char* YesNo(bool on) {
    return on ? "yes" : "no";
}

std::string Decimal(long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", value);
    return text;
}

// "Task07" + suffix, "Mime007" + suffix.
std::string RowName(const char* prefix, int width, int row, const char* suffix) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%.*d%s", prefix, width, row, suffix);
    return text;
}

// A field of a console status line may not hold the line's separators.
std::string StatusField(std::string text) {
    for (char& c : text) {
        if (c == '*' || c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return text;
}

uint32_t AddressNumber(const std::string& address) {
    return ::inet_addr(address.c_str());
}

}  // namespace

CServerSettings::HostListing ListHostAddresses(std::vector<std::string>& addresses,
                                               HostLoopback loopback) {
    char name[81];
    if (::gethostname(name, sizeof name) != 0) {
        return CServerSettings::HostListing::kNoHostName;
    }
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return CServerSettings::HostListing::kNoAddresses;
    }
    for (const struct ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET ||
            (it->ifa_flags & IFF_UP) == 0 ||
            (loopback == HostLoopback::kSkip && (it->ifa_flags & IFF_LOOPBACK) != 0)) {
            continue;
        }
        const auto* in = reinterpret_cast<const struct sockaddr_in*>(it->ifa_addr);
        char text[INET_ADDRSTRLEN];
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr &&
            (loopback == HostLoopback::kInclude || (ntohl(in->sin_addr.s_addr) >> 24) != 127)) {
            addresses.emplace_back(text);
        }
    }
    ::freeifaddrs(list);
    return CServerSettings::HostListing::kListed;
}

namespace {

CServerSettings::PortState ProbePort(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return CServerSettings::PortState::kNoSocket;
    }
    // The listener sets the same option, so a port held only by closing connections is free.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    where.sin_addr.s_addr = AddressNumber(address);
    const bool bound =
        ::bind(fd, reinterpret_cast<const struct sockaddr*>(&where), sizeof where) == 0;
    ::close(fd);
    return bound ? CServerSettings::PortState::kFree : CServerSettings::PortState::kInUse;
}

}  // namespace

CServerSettings g_settings;

CServerSettings::CServerSettings(SettingsBuild build) : CServerSettings(GetRootFolder(), build) {}

CServerSettings::CServerSettings(const std::string& rootFolder, SettingsBuild build)
    : m_addressNumber(AddressNumber("127.0.0.1")),
      m_build(build),
      m_rootFolder(rootFolder),
      m_key(std::make_unique<CVersionKey>("Tormalek", "Velmorin Server", "2", rootFolder)) {
    for (const SettingRow& row : ServerSettingRows()) {
        row.SetDefault(*this);
    }
}

CServerSettings::~CServerSettings() {
    ClearTasks();
}

void CServerSettings::SetClock(Clock clock) {
    m_clock = std::move(clock);
}

void CServerSettings::SetPortProbe(PortProbe probe) {
    m_portProbe = std::move(probe);
}

void CServerSettings::SetAddressLister(AddressLister lister) {
    m_addressLister = std::move(lister);
}

std::time_t CServerSettings::Now() const {
    return m_clock ? m_clock() : std::time(nullptr);
}

bool CServerSettings::Read(const std::string& name, std::string& value) {
    return m_key->QueryValue(name, value);
}

std::string CServerSettings::ReadOr(const std::string& name, const std::string& fallback) {
    std::string value;
    return Read(name, value) ? value : fallback;
}

bool CServerSettings::Load() {
    const bool console = m_build == SettingsBuild::kConsole;
    m_key->Close();  // a fresh look at the store, not the snapshot of an earlier open
    if (console) {
        if (!m_key->Open() || !LoadTasks()) {
            return false;
        }
    } else {
        LoadTasks();
    }
    for (const SettingRow& row : ServerSettingRows()) {
        if (!row.ReadBy(m_build)) {
            continue;
        }
        if (row.IsValue()) {
            row.Load(*this);
        } else if (row.m_kind == SettingKind::kMimeMap) {
            LoadMime();  // the task table was loaded first
        }
    }
    m_loaded = true;
    m_key->Close();
    return true;
}

void CServerSettings::LoadMime() {
    m_mimeMap.Clear();
    std::string text;
    int count = Read("MimeCount", text) ? std::atoi(text.c_str()) : 0;
    if (count <= 0) {
        m_mimeMap.FillDefaults();
        return;
    }
    if (count > kMaxMimeRows) {
        count = kMaxMimeRows;
    }
    for (int row = 1; row <= count; ++row) {
        const std::string extension = ReadOr(RowName("Mime", 3, row, "FileExtension"), "");
        const std::string type = ReadOr(RowName("Mime", 3, row, "ContentType"), "");
        if (!extension.empty() && !type.empty()) {
            m_mimeMap.Set(extension, type);
        }
    }
}

bool CServerSettings::Save() {
    CVersionKey& key = *m_key;
    key.BeginUpdate();
    for (const SettingRow& row : ServerSettingRows()) {
        if (row.m_use != SettingUse::kSaved) {
            continue;
        }
        if (row.IsValue()) {
            key.SetValue(row.m_name, row.StoredText(*this));
        } else if (row.m_kind == SettingKind::kTaskTable) {
            SaveTasksStaged();
        } else {
            SaveMimeStaged();
        }
    }
    const bool ok = key.CommitUpdate();
    key.Close();
    if (ok) {
        m_tasksChanged = false;
        m_mimeChanged = false;
    }
    return ok;
}

bool CServerSettings::SaveConnectString() {
    const bool ok = m_key->SetValue("DbOdbcConnectString", DbOdbcConnectString);
    m_key->Close();
    return ok;
}

void CServerSettings::SaveMimeStaged() {
    m_key->SetValue("MimeCount", Decimal(static_cast<long long>(m_mimeMap.Size())));
    int row = 0;
    for (const CMimeMap::Entry& entry : m_mimeMap.Entries()) {
        ++row;
        m_key->SetValue(RowName("Mime", 3, row, "FileExtension"), entry.m_extension);
        m_key->SetValue(RowName("Mime", 3, row, "ContentType"), entry.m_contentType);
    }
}

void CServerSettings::SaveTasksStaged() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    int row = 0;
    for (const CTaskEntry& task : m_tasks) {
        ++row;
        const bool interval = task.m_dayCode == CTaskEntry::kInterval;
        m_key->SetValue(RowName("Task", 2, row, "Name"), task.m_name);
        m_key->SetValue(RowName("Task", 2, row, "Enabled"), YesNo(task.m_enabled));
        m_key->SetValue(RowName("Task", 2, row, "Script"), task.m_scriptPath);
        m_key->SetValue(RowName("Task", 2, row, "Interval"),
                        interval ? Decimal(task.m_interval / 60) : task.GetDayName());
        m_key->SetValue(RowName("Task", 2, row, "At"),
                        interval ? std::string() : Decimal(task.m_interval / 60));
    }
    m_key->SetValue("TaskCount", Decimal(static_cast<long long>(m_tasks.size())));
}

bool CServerSettings::SaveTasks() {
    const bool own = !m_key->InUpdate();
    if (own) {
        m_key->BeginUpdate();
    }
    SaveTasksStaged();
    const bool ok = own ? m_key->CommitUpdate() : true;
    if (ok) {
        m_tasksChanged = false;
    }
    return ok;
}

bool CServerSettings::SaveTaskScripts() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_key->BeginUpdate();
    int row = 0;
    for (const CTaskEntry& task : m_tasks) {
        ++row;
        m_key->SetValue(RowName("Task", 2, row, "Script"), task.m_scriptPath);
    }
    const bool ok = m_key->CommitUpdate();
    m_key->Close();
    return ok;
}

bool CServerSettings::LoadTasks() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    ClearTasks();
    if (!m_key->InUpdate()) {
        m_key->Close();  // read the rows as the store holds them now
    }
    // An unreadable store reads as an empty one: the defaults below still apply.
    std::string countText;
    const bool present = Read("TaskCount", countText) && !countText.empty();
    int count = present ? std::atoi(countText.c_str()) : 0;
    if (count > kMaxTasks) {
        count = kMaxTasks;
    }
    const std::time_t now = Now();
    for (int row = 1; row <= count; ++row) {
        CTaskEntry task;
        if (!Read(RowName("Task", 2, row, "Name"), task.m_name)) {
            continue;
        }
        task.m_enabled = ReadOr(RowName("Task", 2, row, "Enabled"), "no") == "yes";
        task.m_scriptPath = ReadOr(RowName("Task", 2, row, "Script"), "none");
        const std::string interval = ReadOr(RowName("Task", 2, row, "Interval"), "");
        task.m_dayCode = CTaskEntry::DayCodeFromName(interval);
        int64_t minutes = 0;
        if (task.m_dayCode == CTaskEntry::kInterval) {
            minutes = std::atoi(interval.c_str());
        } else {
            std::string at;
            minutes = Read(RowName("Task", 2, row, "At"), at) ? std::atoi(at.c_str()) : 360;
        }
        task.m_interval = minutes * 60;
        task.ComputeNextRun(now);
        m_tasks.push_back(std::move(task));
    }
    // The scheduler and the Server object rely on the six system rows.
    if (m_tasks.size() < 6) {
        SetDefaultTasks();
        if (present) {
            g_log.Log("Default scripts missing. List of scripts has been reset.");
        }
        SaveTasks();
    }
    m_tasksChanged = false;
    return true;
}

void CServerSettings::ClearTasks() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_tasks.clear();
}

bool CServerSettings::SetDefaultTasks() {
    struct DefaultRow {
        const char* m_name;
        const char* m_script;  // under the root; nullptr for the Email Sender
        int32_t m_dayCode;
        int64_t m_interval;
    };
    static const DefaultRow kRows[] = {
        {"Email Sender", nullptr, CTaskEntry::kInterval, 600},
        {"Email Importer", "/webroot/script/importer.zrs", CTaskEntry::kInterval, 30 * 60},
        {"Due Date Reminder", "/webroot/script/dueRem.zrs", CTaskEntry::kInterval, 3600},
        {"Issue Escalator", "/webroot/script/escalator.zrs", CTaskEntry::kInterval, 3600},
        {"System", "/webroot/script/system.zrs", CTaskEntry::kEveryDay, 3600},
        {"Todo Reminder", "/webroot/script/todoRem.zrs", CTaskEntry::kSunday + 1, 6 * 3600},
    };
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    ClearTasks();
    const std::time_t now = Now();
    for (const DefaultRow& row : kRows) {
        CTaskEntry task;
        task.m_name = row.m_name;
        task.m_enabled = false;
        task.m_scriptPath = row.m_script ? m_rootFolder + row.m_script : "none";
        task.m_dayCode = row.m_dayCode;
        task.m_interval = row.m_interval;
        task.ComputeNextRun(now);
        m_tasks.push_back(std::move(task));
    }
    return true;
}

void CServerSettings::ComputeNextRun(CTaskEntry& row) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    row.ComputeNextRun(Now());
}

std::string CServerSettings::GetTaskStatusLines(bool running) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::string lines;
    for (size_t i = 0; i < m_tasks.size(); ++i) {
        const CTaskEntry& task = m_tasks[i];
        std::string schedule;
        if (AsciiEqualNoCase(task.m_name, "Email Sender")) {
            schedule = EmSmtpServer.empty()
                           ? std::string("Outgoing email server not set yet")
                           : "Send via " + EmSmtpServer + " every " + task.GetScheduleText();
        } else {
            schedule = "Run " + task.m_scriptPath + " every " + task.GetScheduleText();
        }
        std::string state;
        if (!task.m_enabled) {
            state = "Disabled";
        } else if (running) {
            state = CSspDateTime(task.m_nextRun).GetDateTimeStr2();
        } else {
            state = "Stopped";
        }
        lines += Decimal(static_cast<long long>(i + 2)) + "*" + StatusField(task.m_name) + "*" +
                 StatusField(schedule) + "*" + StatusField(state) + "\r\n";
    }
    return lines;
}

bool CServerSettings::IsDifferent(const CServerSettings& other) const {
    for (const SettingRow& row : ServerSettingRows()) {
        if (row.m_use != SettingUse::kSaved) {
            continue;
        }
        // The console's pages flag their edits of the two tables instead of comparing them.
        const bool differs = row.m_kind == SettingKind::kTaskTable ? other.m_tasksChanged
                             : row.m_kind == SettingKind::kMimeMap ? other.m_mimeChanged
                                                                   : !row.SameValue(*this, other);
        if (differs) {
            return true;
        }
    }
    return false;
}

bool CServerSettings::GetLocalAddress(std::string& address) {
    std::vector<std::string> addresses;
    const HostListing listed = m_addressLister ? m_addressLister(addresses)
                                               : ListHostAddresses(addresses, HostLoopback::kSkip);
    if (listed == HostListing::kNoHostName) {
        g_log.Log("Failed to get local host name");
        return false;
    }
    if (listed == HostListing::kNoAddresses) {
        g_log.Log("Failed to get local host hostent");
        return false;
    }
    for (const std::string& candidate : addresses) {
        if (candidate == address) {
            return false;
        }
    }
    if (addresses.empty()) {
        return false;
    }
    address = addresses.front();
    return true;
}

bool CServerSettings::AutoCorrectPort(const std::string& address, std::string& port) {
    int candidate = std::atoi(port.c_str());
    bool found = false;
    while (candidate < 8084) {
        const PortState state =
            m_portProbe ? m_portProbe(address, candidate) : ProbePort(address, candidate);
        if (state == PortState::kNoSocket) {
            g_log.Log("Failed create socket when trying to correct TCP port");
            return false;
        }
        if (state == PortState::kFree) {
            found = true;
            break;
        }
        candidate = candidate <= 8079 ? 8080 : candidate + 1;
    }
    if (found) {
        port = Decimal(candidate);
    } else {
        g_log.Log(
            "Failed to find an available TCP port. Please set the port yourself in Settings | "
            "General Page.");
    }
    return true;
}

std::string CServerSettings::GetDefaultCharset() {
    return DefaultCharsetForCodeset(SystemCodeset());
}

std::string CServerSettings::GetContentType(const std::string& extension) const {
    return m_mimeMap.ContentTypeFor(extension);
}

int64_t CServerSettings::GetUploadLimitBytes() const {
    return static_cast<int64_t>(GeneralMaxUpload) * 1048576;
}
