#include "engine/web/ServerContextLink.h"

#include <mutex>

#include "engine/data/DataSource.h"
#include "engine/foundation/SocketConn.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/HttpResponse.h"
#include "engine/web/ServerContext.h"

void CServerContextLink::InstallFor(CServerContextLink* link) {
    CSspServerLink::Install(link);
    CSspContextLink::Install(link);
}

void CServerContextLink::InstallProcessLink() {
    static CServerContextLink link(g_serverContext);
    InstallFor(&link);
}

void CServerContextLink::Uninstall() {
    CSspServerLink::Install(nullptr);
    CSspContextLink::Install(nullptr);
}

CDataSource* CServerContextLink::AcquireDataSource(const std::string& url) {
    std::lock_guard lock(m_context.Lock());
    std::string connection;
    if (!url.empty() && !m_context.FindConnection(url, connection)) {
        return nullptr;  // the run raises the missing-data-source text at its position
    }
    return m_context.AcquireDataSource(url);
}

void CServerContextLink::ReleaseDataSource(CDataSource* source) {
    m_context.ReleaseDataSource(source);
}

void CServerContextLink::SetDataSource(const std::string& url, const std::string& connection) {
    m_context.SetDataSource(connection, url);
}

void CServerContextLink::DataSourceCommand(CDataSource* source, std::string_view command) {
    source->DoCommand(std::string(command).c_str());
}

bool CServerContextLink::InTransaction(CDataSource* source) {
    return source->InTransaction();
}

std::string CServerContextLink::DbmsName(CDataSource* source) {
    return source->GetDbmsName();
}

std::string CServerContextLink::DbmsVersion(CDataSource* source) {
    return source->GetDbmsVersion();
}

int CServerContextLink::GetUniqueId(CDataSource* source, const std::string& table,
                                    const std::string& column, const std::string& registryTable) {
    return source->DoCommand("GetUid", table.c_str(), column.c_str(), registryTable.c_str());
}

void CServerContextLink::CallServerMember(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    m_context.CallServerMember(call, result);
}

std::unique_lock<std::recursive_mutex> CServerContextLink::LockRun() {
    return m_context.LockRun();
}

std::time_t CServerContextLink::Now() {
    return m_context.Now();
}

CSessionRef CServerContextLink::FindSession(const std::string& id, const std::string& secret) {
    return m_context.FindSession(id, secret);
}

CSessionRef CServerContextLink::CreateSession(const std::string& userId,
                                              const std::string& clientIp,
                                              const std::string& appPath) {
    return m_context.CreateSession(userId, clientIp, appPath);
}

void CServerContextLink::RemoveSession(const std::string& id) {
    m_context.RemoveSession(id);
}

void CServerContextLink::RemoveUserSessions(const std::string& userId) {
    m_context.RemoveUserSessions(userId);
}

std::vector<std::string> CServerContextLink::ListSessions() {
    return m_context.ListSessions();
}

void CServerContextLink::CallAppMember(const std::string& urlFolder, CSspCall& call,
                                       CSspValue& result) {
    m_context.CallAppMember(urlFolder, call, result);
}

std::string CServerContextLink::RequestCookie(CSspRequestObject& request, const std::string& name) {
    auto* http = dynamic_cast<CHttpRequest*>(&request);
    return http != nullptr ? http->GetCookie(name) : std::string();
}

std::string CServerContextLink::RequestField(CSspRequestObject& request, const std::string& name) {
    auto* http = dynamic_cast<CHttpRequest*>(&request);
    std::string value;
    if (http != nullptr) {
        http->GetField(name, &value);
    }
    return value;
}

std::string CServerContextLink::ClientAddress(CSspRequestObject& request) {
    auto* http = dynamic_cast<CHttpRequest*>(&request);
    if (http == nullptr || http->GetConnection() == nullptr) {
        return std::string();
    }
    return http->GetConnection()->GetPeerAddressText();
}

std::string CServerContextLink::ResponseCookie(CSspResponseObject& response,
                                               const std::string& name) {
    auto* http = dynamic_cast<CHttpResponse*>(&response);
    return http != nullptr ? http->GetCookie(name) : std::string();
}

void CServerContextLink::SetSessionCookies(CSspResponseObject& response,
                                           const CSessionRecord& session, const std::string& path) {
    auto* http = dynamic_cast<CHttpResponse*>(&response);
    if (http == nullptr) {
        return;
    }
    http->AddCookie(CCookie{kIdCookie, session.GetSessionId(), "", path});
    // The secret never reaches page scripts, nor a plain connection once sent over TLS.
    CSocketConn* conn = http->GetConnection();
    http->AddCookie(CCookie{kKeyCookie, session.GetSecret(), "", path, true,
                            conn != nullptr && conn->IsSslOn()});
}
