#include "server/ConsoleCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "engine/foundation/FoldedLog.h"
#include "engine/foundation/GroupMember.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SocketPeerUid.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/settings/ServerSettings.h"
#include "server/LocalPeer.h"
#include "server/ServerStatus.h"

namespace {

// A field of a fixed text (a setting): a separator or line end becomes a blank.
std::string Field(const std::string& text) {
    std::string field = text;
    for (char& c : field) {
        if (c == '*' || c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return field;
}

// A URL keeps its meaning with the separator and line ends percent-encoded.
std::string UrlField(const std::string& text) {
    std::string field;
    field.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '*':
                field += "%2A";
                break;
            case '\r':
                field += "%0D";
                break;
            case '\n':
                field += "%0A";
                break;
            default:
                field += c;
        }
    }
    return field;
}

// The installation's administrators: root, the server's own user and the root folder's group.
bool IsAdministrator(uid_t uid, const std::string& rootFolder) {
    if (uid == 0 || uid == ::geteuid()) {
        return true;
    }
    struct stat root {};
    return ::stat(rootFolder.empty() ? "." : rootFolder.c_str(), &root) == 0 &&
           IsGroupMember(uid, root.st_gid);
}

std::string TimeText(int64_t time) {
    return CSspDateTime(time).GetDateTimeStr2();
}

}  // namespace

CConsoleCommands::CConsoleCommands(const CServerSettings& settings, CServerStatus& status,
                                   CConsoleConnections& connections)
    : m_settings(settings), m_status(status), m_connections(connections) {}

void CConsoleCommands::Serve(CSocketConn& conn, const std::string& command,
                             const std::string& argument, long askingThread) {
    sockaddr_in local{};
    if (!GetLocalAddress(conn.GetHandle(), local) || !IsLocalPeer(conn.GetPeerAddress(), local)) {
        g_refusalLog.Log("Console command refused: " + conn.GetPeerAddressText() +
                         " is not on this host.");
        return;
    }
    // Any user of this host can reach the loopback port: the commands answer only those who
    // may administer the installation.
    uid_t uid = 0;
    if (!FindTcpPeerUid(conn.GetHandle(), uid)) {
        g_refusalLog.Log("Console command refused: the user of " + conn.GetPeerAddressText() +
                         " is unknown.");
        return;
    }
    if (!IsAdministrator(uid, m_settings.RootFolder())) {
        g_refusalLog.Log("Console command refused: user " + std::to_string(uid) +
                         " is not an administrator of this installation.");
        return;
    }
    const std::string reply = Answer(command, argument, askingThread);
    if (!reply.empty()) {
        conn.Send(reply);
    }
}

std::string CConsoleCommands::Answer(const std::string& command, const std::string& argument,
                                     long askingThread) {
    if (command.find(".GetTask") != std::string::npos) {
        return GetTask();
    }
    if (command.find(".GetReq") != std::string::npos) {
        return GetReq(askingThread);
    }
    if (command.find(".RunNow") != std::string::npos) {
        RunNow(argument);
    } else if (command.find(".Disconnect") != std::string::npos) {
        Disconnect(argument);
    }
    return "";
}

std::string CConsoleCommands::GetTask() {
    const CServerStatus::Snapshot state = m_status.Get();
    const std::string& fqdn = m_settings.FQDN;

    const std::string& port = m_settings.GeneralTcpipPort;
    const std::string http = port == "80" ? "http://" + fqdn : "http://" + fqdn + ":" + port;
    std::string reply = "0*Web Server*" + Field(http) + "*" + TimeText(state.m_webStart) + "\r\n";

    const std::string& sslPort = m_settings.GeneralSslPort;
    const std::string https =
        sslPort == "443" ? "https://" + fqdn : "https://" + fqdn + ":" + sslPort;
    std::string secureState;
    if (state.m_secureRunning) {
        secureState = TimeText(state.m_secureStart);
    } else if (!m_settings.SecurityCertName.empty()) {
        secureState = "Stopped";
    } else {
        secureState = "Disabled";
    }
    reply += "1*Secure Web Server*" + Field(https) + "*" + secureState + "\r\n";

    reply += m_settings.GetTaskStatusLines(state.m_schedulerRunning);
    reply += "\r\n";
    return reply;
}

std::string CConsoleCommands::GetReq(long askingThread) {
    std::vector<CConsoleConnection> busy;
    const int watermark = m_connections.List(askingThread, busy);
    std::string reply;
    for (const CConsoleConnection& c : busy) {
        if (c.m_threadId == askingThread) {
            continue;
        }
        reply += Field(c.m_address) + "*" + std::to_string(c.m_threadId) + "*" +
                 Field(c.m_assigned) + "*" + UrlField(c.m_request) + "\r\n";
    }
    reply += "watermark*" + std::to_string(watermark) + "\r\n\r\n";
    return reply;
}

void CConsoleCommands::RunNow(const std::string& argument) {
    switch (m_status.PostRunTask(std::atoi(argument.c_str()))) {
        case CServerStatus::PostResult::kPosted:
            break;
        case CServerStatus::PostResult::kNotRunning:
            g_log.Log("Script Thread not running");
            break;
        case CServerStatus::PostResult::kFailed:
            // A post fails only once the scheduler has ended: errno says nothing about it.
            g_log.Log("RunNow failed: the scheduler's queue is closed.");
            break;
    }
}

void CConsoleCommands::Disconnect(const std::string& argument) {
    m_connections.Disconnect(std::atol(argument.c_str()));
}
