#pragma once

#include "engine/script/SspContextLink.h"
#include "engine/script/SspServerLink.h"

class CServerContext;

// The web layer's answer to what runs ask of the server: data sources, Server members,
// sessions, applications and the run lock from a CServerContext, and the cookies, fields and
// client address of CHttpRequest and CHttpResponse (other request and response objects give
// empty answers and get no cookies).
class CServerContextLink : public CSspServerLink, public CSspContextLink {
public:
    explicit CServerContextLink(CServerContext& context) : m_context(context) {}

    // Installs this link for every run of the process (both interfaces) and makes the
    // Session, SessMan and App objects known. `link` must outlive every run.
    static void InstallFor(CServerContextLink* link);
    // Removes whatever link is installed.
    static void Uninstall();
    // Installs the link over g_serverContext. Programs call it once at start-up, before any
    // run (the server, the studio and the system-script thread share it).
    static void InstallProcessLink();

    // CSspServerLink. AcquireDataSource gives nullptr when no prefix maps the URL.
    CDataSource* AcquireDataSource(const std::string& url) override;
    void ReleaseDataSource(CDataSource* source) override;
    void SetDataSource(const std::string& url, const std::string& connection) override;
    void DataSourceCommand(CDataSource* source, std::string_view command) override;
    bool InTransaction(CDataSource* source) override;
    std::string DbmsName(CDataSource* source) override;
    std::string DbmsVersion(CDataSource* source) override;
    int GetUniqueId(CDataSource* source, const std::string& table, const std::string& column,
                    const std::string& registryTable) override;
    void CallServerMember(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // CSspContextLink.
    std::unique_lock<std::recursive_mutex> LockRun() override;
    std::time_t Now() override;
    CSessionRef FindSession(const std::string& id, const std::string& secret) override;
    CSessionRef CreateSession(const std::string& userId, const std::string& clientIp,
                              const std::string& appPath) override;
    void RemoveSession(const std::string& id) override;
    void RemoveUserSessions(const std::string& userId) override;
    std::vector<std::string> ListSessions() override;
    void CallAppMember(const std::string& urlFolder, CSspCall& call, CSspValue& result) override;
    std::string RequestCookie(CSspRequestObject& request, const std::string& name) override;
    std::string RequestField(CSspRequestObject& request, const std::string& name) override;
    std::string ClientAddress(CSspRequestObject& request) override;
    std::string ResponseCookie(CSspResponseObject& response, const std::string& name) override;
    void SetSessionCookies(CSspResponseObject& response, const CSessionRecord& session,
                           const std::string& path) override;

private:
    CServerContext& m_context;
};
