#include "engine/web/ServerContext.h"

#include <strings.h>

#include <algorithm>
#include <new>
#include <random>

#include "engine/data/DataSource.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspApplication.h"
#include "engine/script/SspObject.h"
#include "engine/settings/ServerSettings.h"

CServerContext g_serverContext(g_settings);

namespace {

const char kEmptyPath[] = "FileOrDir empty in finding DS";
constexpr int kDefaultSessionTimeout = 600;
constexpr int64_t kIdleMinutes = 120;

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

int DrawRandom() {
    std::random_device device;
    return static_cast<int>(device() & 0x7fffffff);
}

}  // namespace

CServerContext::CServerContext(CServerSettings& settings)
    : m_settings(settings), m_nRandom(DrawRandom()) {}

CServerContext::~CServerContext() = default;

void CServerContext::Clear() {
    std::lock_guard lock(m_lock);
    m_vars.Clear();
    m_apps.clear();
    m_sessions.clear();
    m_dataSources.Clear();
    m_prefixes.clear();
}

void CServerContext::SetClock(Clock clock) {
    std::lock_guard lock(m_lock);
    m_clock = std::move(clock);
}

std::time_t CServerContext::Now() {
    std::lock_guard lock(m_lock);
    return m_clock ? m_clock() : std::time(nullptr);
}

void CServerContext::SetAdminMailer(CAdminMailer* mailer) {
    std::lock_guard lock(m_lock);
    m_pMailer = mailer;
}

std::unique_lock<std::recursive_mutex> CServerContext::LockRun() {
    if (m_settings.DbAccessSerialize) {
        return std::unique_lock<std::recursive_mutex>(m_lock);
    }
    return std::unique_lock<std::recursive_mutex>();
}

// ---- Data sources ------------------------------------------------------------------------

int CServerContext::InitDefaultDataSource() {
    std::lock_guard lock(m_lock);
    if (m_settings.GeneralSessionTimeout < 0 || m_settings.GeneralSessionTimeout > 1440) {
        m_settings.GeneralSessionTimeout = kDefaultSessionTimeout;
    }
    if (m_settings.DbOdbcConnectString.size() < 5) {
        return -1;
    }
    SetDataSource(m_settings.DbOdbcConnectString.substr(5), "/");
    return 0;
}

void CServerContext::SetDataSource(const std::string& connection, const std::string& prefix) {
    std::lock_guard lock(m_lock);
    for (auto& [mapped, text] : m_prefixes) {
        if (mapped == prefix) {
            text = connection;
            return;
        }
    }
    m_prefixes.emplace_back(prefix, connection);
}

bool CServerContext::FindConnection(const std::string& path, std::string& connection) {
    std::lock_guard lock(m_lock);
    const std::pair<std::string, std::string>* best = nullptr;
    for (const auto& entry : m_prefixes) {
        if (StartsWithNoCase(path, entry.first) &&
            (best == nullptr || entry.first.size() > best->first.size())) {
            best = &entry;
        }
    }
    if (best == nullptr) {
        return false;
    }
    connection = best->second;
    return true;
}

CDataSource* CServerContext::AcquireDataSource(const std::string& path) {
    std::lock_guard lock(m_lock);
    if (path.empty()) {
        throw CSspException(kEmptyPath);
    }
    std::string connection;
    if (!FindConnection(path, connection)) {
        throw CSspException(g_msg.m_noDataSourceDefined);
    }
    CDataSource* shared = m_dataSources.AcquireShared(connection, Now());
    if (!m_settings.DbConnectionThreadOwn) {
        return shared;
    }
    shared->RemoveUser();
    return m_dataSources.AcquireOwn(connection, Now());
}

void CServerContext::ReleaseDataSource(CDataSource*& source) {
    std::lock_guard lock(m_lock);
    if (source == nullptr) {
        return;
    }
    m_dataSources.Release(source);
    source = nullptr;
}

void CServerContext::CloseIdleDataSources() {
    std::lock_guard lock(m_lock);
    m_dataSources.CloseIdle(Now(), kIdleMinutes);
}

std::string CServerContext::GetDataSourceInfo() {
    std::lock_guard lock(m_lock);
    std::string out;
    for (CDataSource* source : m_dataSources.Listed()) {
        for (const auto& [prefix, connection] : m_prefixes) {
            if (connection == source->ConnectString()) {
                out += prefix + ";";
            }
        }
        out += "\t" + source->ConnectString() + "\t" +
               CSspDateTime(source->GetLastUse()).GetDateTimeStr() + "\t" +
               (source->IsConnected() ? "open" : "closed") + "\r\n";
    }
    return out;
}

// ---- Applications ------------------------------------------------------------------------

CSspApplication* CServerContext::FindApplication(const std::string& path) {
    std::lock_guard lock(m_lock);
    const std::string& key = path.empty() ? std::string("/") : path;
    CSspApplication* best = nullptr;
    for (auto& app : m_apps) {
        if (StartsWithNoCase(key, app->GetName()) &&
            (best == nullptr || app->GetName().size() > best->GetName().size())) {
            best = app.get();
        }
    }
    return best;
}

void CServerContext::InitApplication(const std::string& path) {
    std::lock_guard lock(m_lock);
    if (FindApplication(path) != nullptr) {
        return;
    }
    try {
        m_apps.push_back(std::make_unique<CSspApplication>(path));
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_newAppOutOfMemory);
    }
}

std::string CServerContext::GetAppInfo() {
    std::lock_guard lock(m_lock);
    std::string out;
    for (auto& app : m_apps) {
        out += app->GetName() + "; ";
    }
    return out;
}

void CServerContext::CallAppMember(const std::string& path, CSspCall& call, CSspValue& result) {
    std::lock_guard lock(m_lock);
    if (SspNameEquals(call.m_strMember, "Init")) {
        InitApplication(path);
        result = CSspValue::FromInteger(1);
        return;
    }
    CSspApplication* app = FindApplication(path);
    if (SspNameEquals(call.m_strMember, "IsValid")) {
        result = CSspValue::FromInteger(app != nullptr ? 1 : 0);
        return;
    }
    if (app == nullptr) {
        throw CSspException(g_msg.m_appNotInitialized, call.m_pPos);
    }
    // Under the context's lock: applications live until Clear, and the order stays context
    // before application.
    app->CallMethod(call, result);
}

// ---- Sessions ----------------------------------------------------------------------------

CSessionRef CServerContext::CreateSession(const std::string& userId, const std::string& clientIp,
                                          const std::string& appPath) {
    std::lock_guard lock(m_lock);
    DropExpiredSessions();
    std::time_t now = Now();
    auto taken = [&](const std::string& id) {
        return std::any_of(m_sessions.begin(), m_sessions.end(),
                           [&](const CSessionRef& s) { return s->GetSessionId() == id; });
    };
    // 26 letters per user and second; past that the ID takes the next second.
    char letter = CSessionRecord::RandomLetter();
    for (int attempt = 0; taken(CSessionRecord::MakeSessionId(userId, now, letter)); ++attempt) {
        letter = static_cast<char>('A' + (letter - 'A' + 1) % 26);
        if (attempt % 26 == 25) {
            ++now;
        }
    }
    CSessionRef session;
    try {
        session = std::make_shared<CSessionRecord>(userId, clientIp, appPath,
                                                   m_settings.GeneralSessionTimeout, now, letter);
        m_sessions.push_back(session);
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_newSessionOutOfMemory);
    }
    return session;
}

CSessionRef CServerContext::FindSession(const std::string& id, const std::string& secret) {
    std::lock_guard lock(m_lock);
    for (const CSessionRef& session : m_sessions) {
        if (session->GetSessionId() == id) {
            if (!session->MatchesSecret(secret)) {
                return nullptr;
            }
            session->SetLastAccess(Now());
            return session;
        }
    }
    return nullptr;
}

void CServerContext::RemoveSessionAt(std::size_t index) {
    m_sessions.erase(m_sessions.begin() + static_cast<std::ptrdiff_t>(index));
}

void CServerContext::RemoveSession(const std::string& id) {
    std::lock_guard lock(m_lock);
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
        if (m_sessions[i]->GetSessionId() == id) {
            RemoveSessionAt(i);
            return;
        }
    }
}

void CServerContext::RemoveUserSessions(const std::string& userId) {
    std::lock_guard lock(m_lock);
    std::erase_if(m_sessions, [&](const CSessionRef& s) {
        std::string user = s->GetUserId();
        return user.size() == userId.size() && strcasecmp(user.c_str(), userId.c_str()) == 0;
    });
}

void CServerContext::DropExpiredSessions() {
    std::lock_guard lock(m_lock);
    std::time_t now = Now();
    while (!m_sessions.empty() &&
           m_sessions.front()->IsExpired(m_settings.GeneralSessionTimeout, now)) {
        RemoveSessionAt(0);
    }
}

std::vector<std::string> CServerContext::ListSessions() {
    std::lock_guard lock(m_lock);
    std::vector<std::string> lines;
    for (const CSessionRef& s : m_sessions) {
        std::string line = s->GetUserId() + "\n" + s->GetClientIp() + "\n" +
                           CSspDateTime(s->GetStartTime()).GetDateTimeStr() + "\n" +
                           CSspDateTime(s->GetLastAccess()).GetDateTimeStr() + "\n" +
                           s->GetAppPath();
        // Before the first greater line, so equal lines keep their creation order.
        auto greater = std::upper_bound(lines.begin(), lines.end(), line,
                                        [](const std::string& a, const std::string& b) {
                                            return strcasecmp(a.c_str(), b.c_str()) < 0;
                                        });
        lines.insert(greater, std::move(line));
    }
    return lines;
}

std::size_t CServerContext::SessionCount() {
    std::lock_guard lock(m_lock);
    return m_sessions.size();
}
