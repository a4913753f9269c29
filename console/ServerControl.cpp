#include "console/ServerControl.h"

#include <unistd.h>

#include <cerrno>
#include <thread>

#include "console/ConsoleClient.h"
#include "console/ConsoleMessages.h"
#include "engine/foundation/NamedObject.h"
#include "engine/foundation/ObjectNames.h"
#include "engine/foundation/SystemError.h"
#include "engine/script/ProcessRunner.h"

namespace {

constexpr const char* kProgramName = "Tallgrove";

// One probe of a start's poll waits no longer than one poll step would.
constexpr int kProbeTimeoutSeconds = 1;

}  // namespace

CServerControl::CServerControl(std::string root, ServiceControlFactory serviceFactory)
    : m_root(std::move(root)), m_serviceFactory(std::move(serviceFactory)) {}

void CServerControl::ProbeService() {
    m_serviceInstalled = m_serviceFactory()->IsInstalled(kServiceName);
}

std::string CServerControl::Kind() const {
    return m_serviceInstalled ? "NT Service " : "";
}

bool CServerControl::IsServerRunning() {
    if (m_serviceInstalled) {
        return m_serviceFactory()->IsRunning(kServiceName);
    }
    return CNamedEvent::Exists(m_root, kServerStopEventName);
}

bool CServerControl::IsServerAnswering() {
    if (!IsServerRunning()) {
        return false;
    }
    if (m_webPort == 0) {
        return true;
    }
    // The stop event exists before the listeners do, and a port held by another program
    // accepts too: only the server's own reply to a console command says it serves.
    CConsoleClient client(m_webAddress.empty() ? "127.0.0.1" : m_webAddress, m_webPort,
                          kProbeTimeoutSeconds);
    std::string text;
    std::string error;
    return client.GetTaskList(text, error) && !ParseServerRows(text).empty();
}

void CServerControl::SetWebServer(std::string address, int port) {
    m_webAddress = std::move(address);
    m_webPort = port;
}

void CServerControl::SetPollWait(std::function<void(std::chrono::milliseconds)> wait) {
    m_pollWait = std::move(wait);
}

bool CServerControl::LaunchServerApp(std::string& text) {
    const std::string own = m_root + "/bin/" + kProgramName;
    CRunOptions options;
    options.m_argv0 = kProgramName;
    options.m_newSession = true;
    options.m_workFolder = m_root.empty() ? "/" : m_root;
    options.m_searchPath = ::access(own.c_str(), F_OK) != 0;
    const CRunOutcome outcome =
        RunProgram(options.m_searchPath ? kProgramName : own, {"-NormalApp"}, 0, options);
    if (outcome.m_kind == CRunOutcome::kNotStarted) {
        text = std::string("Failed to launch ") + kProgramName + ":\n" +
               FormatSystemError(outcome.m_error);
        return false;
    }
    return true;
}

bool CServerControl::PollUntil(const std::function<bool()>& test, bool wanted) {
    for (int i = 0; i < m_polling.m_count; ++i) {
        if (test() == wanted) {
            return true;
        }
        if (i + 1 < m_polling.m_count) {
            if (m_pollWait) {
                m_pollWait(m_polling.m_interval);
            } else {
                std::this_thread::sleep_for(m_polling.m_interval);
            }
        }
    }
    return false;
}

bool CServerControl::DoStartServer(std::string& text) {
    text.clear();
    const std::string kind = Kind();
    const CConsoleMessages& msg = ConsoleMessages();
    const auto answering = [this] { return IsServerAnswering(); };
    if (IsServerRunning()) {
        // Already there, or still coming up: believed only once it answers.
        if (!PollUntil(answering, true)) {
            text = FormatMessage(msg.msgStartTimedOut, {kind});
            return false;
        }
        return true;
    }
    std::string detail;
    bool started = false;
    if (m_serviceInstalled) {
        auto service = m_serviceFactory();
        started = service->Start(kServiceName);
        detail = service->Error();
    } else {
        started = LaunchServerApp(detail);
    }
    if (!started) {
        text = FormatMessage(msg.msgStartFailed, {kind, kProgramName, detail});
        return false;
    }
    if (!PollUntil(answering, true)) {
        text = FormatMessage(msg.msgStartTimedOut, {kind});
        return false;
    }
    return true;
}

bool CServerControl::DoStopServer(std::string& text) {
    text.clear();
    const std::string kind = Kind();
    std::string detail;
    const CConsoleMessages& msg = ConsoleMessages();
    if (!m_serviceInstalled) {
        // An event that cannot be believed (an untrusted tmp/, a stranger's socket) is not
        // "not running": whether the server runs is unknown.
        CUniqueFd event(ConnectNamedObject(m_root, kServerStopEventName));
        if (event.Get() < 0 && errno == EPERM) {
            text = FormatMessage(
                msg.msgStopFailed,
                {kind, "Its stop event in " + m_root + "/tmp cannot be trusted; see the log."});
            return false;
        }
    }
    if (!IsServerRunning()) {
        return true;
    }
    if (m_serviceInstalled) {
        auto service = m_serviceFactory();
        if (!service->Stop(kServiceName)) {
            text = FormatMessage(msg.msgStopFailed, {kind, service->Error()});
            return false;
        }
    } else {
        // The server takes a stop only from its own user or root: say so rather than wait.
        unsigned holder = 0;
        if (::geteuid() != 0 && CNamedEvent::HolderUid(m_root, kServerStopEventName, holder) &&
            holder != ::geteuid()) {
            text = FormatMessage(msg.msgStopFailed,
                                 {kind, "Velmorin Server runs as user " + std::to_string(holder) +
                                            "; only that user or root can stop it."});
            return false;
        }
        // An event that vanished since the test means the server is already ending.
        CNamedEvent::Signal(m_root, kServerStopEventName);
    }
    if (!PollUntil([this] { return IsServerRunning(); }, false)) {
        text = FormatMessage(msg.msgStopFailed, {kind, detail});
        return false;
    }
    return true;
}
