#include "server/ServerApp.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <utility>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SystemError.h"
#include "server/ServerParts.h"
#include "server/SignalLatch.h"

namespace {

constexpr const char* kManualStartHint =
    "Please use Velmorin Server Console to start Velmorin Server.\nDo not double click on "
    "Tallgrove in Windows Explorer to start it. ";

const char* YesNo(bool on) {
    return on ? "yes" : "no";
}

}  // namespace

CServerApp::CServerApp(std::string root, CServerParts& parts, CServiceManager& service)
    : m_root(std::move(root)), m_parts(parts), m_service(service) {}

CServerApp::~CServerApp() {
    // Anything still held here was started without a matching stop.
    if (m_scriptThread || m_listener || m_sslListener) {
        StopServer();
    }
}

int CServerApp::Run(const std::string& commandLine) {
    const bool ran = InitInstance(commandLine);
    ExitInstance();
    return ran && m_started ? 0 : 1;
}

bool CServerApp::InitInstance(const std::string& commandLine) {
    switch (m_singleMutex.Create(m_root, kServerSingleName)) {
        case CNamedMutex::Result::kCreated:
            break;
        case CNamedMutex::Result::kExists:
            g_log.Log("A Velmorin Server 2 is already running.");
            return false;
        case CNamedMutex::Result::kError:
            g_log.Log("Unknown error when creating mutex");
            return false;
    }
    if (!SignalLatch::Install()) {
        g_log.Log("%s in installing the stop signal handlers", FormatSystemError(errno).c_str());
        return false;
    }

    if (AsciiLowerCopy(commandLine).find("-normalapp") != std::string::npos) {
        g_log.Log("Velmorin Server starting up...");
        if (CreateStopEvent() && StartServer()) {
            m_started = true;
            WaitForStopEvent();
        }
        StopServer();
        m_stopEvent.Close();
        return true;
    }

    g_log.Log("Velmorin Server NT Service starting up...");
    if (!m_service.IsPresent()) {
        std::fprintf(stderr, "%s\n", kManualStartHint);
        g_log.LogText(kManualStartHint);
        return false;
    }
    m_serviceMode = true;
    ServiceMain();
    return true;
}

void CServerApp::ExitInstance() {
    m_singleMutex.Close();
    g_log.Log("Velmorin Server ended.");
}

bool CServerApp::StartServer() {
    if (!m_parts.LoadSettings()) {
        g_log.Log("Failed to load settings");
        return false;
    }
    CServerSettings& settings = m_parts.Settings();
    g_log.Log("Version=2;Root=%s;SerializeDB=%s;ThreadOwnConn=%s;DsIdleClose=%s", m_root.c_str(),
              YesNo(settings.DbAccessSerialize), YesNo(settings.DbConnectionThreadOwn),
              YesNo(settings.DbConnectionIdleTimeout > 0));
    g_log.Log("http://%s:%s; domain name=%s", settings.GeneralTcpipAddress.c_str(),
              settings.GeneralTcpipPort.c_str(), settings.FQDN.c_str());
    const bool certificate = !settings.SecurityCertName.empty();
    if (certificate) {
        g_log.Log("https://%s:%s; certificate=%s", settings.GeneralTcpipAddress.c_str(),
                  settings.GeneralSslPort.c_str(), settings.SecurityCertName.c_str());
    }

    if (m_parts.InitDefaultDataSource() < 0) {
        g_log.Log("Please run Velmorin Server Console to set up the database connection first.");
        return false;
    }
    if (certificate && !m_parts.AcquireSsl()) {
        g_log.Log("Failed to initialize SSL.");
        return false;
    }

    m_listener = m_parts.MakeListener(settings.GeneralTcpipAddress,
                                      std::atoi(settings.GeneralTcpipPort.c_str()), false);
    if (!m_listener) {
        g_log.Log("Failed to create web server");
        return false;
    }
    if (!StartWorker(m_listener, m_timing.m_listenerPolls, "Failed to create web server")) {
        return false;
    }
    m_status.SetWebServer(true, m_listener->StartTime());

    if (certificate) {
        m_sslListener = m_parts.MakeListener(settings.GeneralTcpipAddress,
                                             std::atoi(settings.GeneralSslPort.c_str()), true);
        if (!m_sslListener) {
            g_log.Log("Failed to create secure web server");
            return false;
        }
        if (!StartWorker(m_sslListener, m_timing.m_listenerPolls,
                         "Failed to create secure web server")) {
            return false;
        }
        m_status.SetSecureServer(true, m_sslListener->StartTime());
    }

    m_scriptThread = m_parts.MakeScheduler();
    if (!m_scriptThread) {
        return true;  // a build without a scheduler serves without one
    }
    if (!StartWorker(m_scriptThread, m_timing.m_schedulerPolls,
                     "Failed to create background thread. ")) {
        return false;
    }
    CServerWorker* scheduler = m_scriptThread.get();
    m_status.SetScheduler([scheduler](int task) { return scheduler->PostRunTask(task); });
    return true;
}

bool CServerApp::StartWorker(std::unique_ptr<CServerWorker>& worker, int polls,
                             const char* createFailText) {
    if (!worker->Start()) {
        g_log.Log("%s", createFailText);
        worker.reset();
        return false;
    }
    for (int i = 0; i < polls && !worker->IsStarted(); ++i) {
        std::this_thread::sleep_for(m_timing.m_poll);
    }
    if (worker->IsStarted()) {
        return true;
    }
    // A listener that could not listen has ended by itself; any other is told to.
    worker->RequestStop();
    if (!worker->WaitEnded(m_timing.m_listenerWait)) {
        worker->Abandon();
        m_abandoned = true;
    }
    worker.reset();
    return false;
}

bool CServerApp::CreateStopEvent() {
    if (m_stopEvent.IsOpen()) {
        return true;
    }
    if (!m_stopEvent.Create(m_root, kServerStopEventName)) {
        g_log.Log("Failed to create Tallgrove2stopEvent");
        return false;
    }
    return true;
}

void CServerApp::WaitForStopEvent() {
    if (!CreateStopEvent()) {
        return;
    }
    while (!m_stopEvent.IsSet()) {
        if (SignalLatch::Latched() != 0) {
            if (m_serviceMode) {
                ServiceCtrlHandler(1);
            } else {
                m_stopEvent.Set();
            }
            break;
        }
        if (!m_stopEvent.Wait(SignalLatch::WakeFd()) && SignalLatch::Latched() == 0) {
            g_log.Log("Failed waiting on the start-stop event.");
            break;
        }
    }
    SignalLatch::Clear();
}

void CServerApp::StopWorker(std::unique_ptr<CServerWorker>& worker, std::chrono::milliseconds wait,
                            const char* failText, bool dumpPosition) {
    if (!worker) {
        return;
    }
    worker->RequestStop();
    if (!worker->WaitEnded(wait)) {
        g_log.Log("%s", failText);
        if (dumpPosition && worker->HasInterpreter() && !worker->DumpPosition()) {
            g_log.Log("Failed to dump debug information.");
        }
        worker->Abandon();
        m_abandoned = true;
    }
    worker.reset();
}

void CServerApp::StopServer() {
    m_status.SetScheduler(nullptr);
    StopWorker(m_scriptThread, m_timing.m_schedulerWait, "Background thread failed to terminate.",
               true);
    m_status.SetWebServer(false, m_status.Get().m_webStart);
    StopWorker(m_listener, m_timing.m_listenerWait, "Failed to wait for listener to terminate.",
               false);
    m_status.SetSecureServer(false, 0);
    StopWorker(m_sslListener, m_timing.m_listenerWait,
               "Failed to wait for SSL listener to terminate.", false);
    if (m_parts.StopPool() < 0) {
        m_abandoned = true;
    }
    m_parts.FreeSsl();
    m_parts.ClearContext();
}

bool CServerApp::ReportStatus(const char* step) {
    g_log.Log("Service state: %s (wait hint %u ms).",
              ServiceStateName(m_serviceStatus.m_currentState), m_serviceStatus.m_waitHint);
    if (!m_service.Report(m_serviceStatus)) {
        g_log.Log("%s in %s", FormatSystemError(errno).c_str(), step);
        return false;
    }
    return true;
}

void CServerApp::ServiceMain() {
    m_serviceStatus = CServiceStatus{};
    m_serviceStatus.m_currentState = CServiceStatus::kStartPending;
    m_serviceStatus.m_waitHint = 5000;
    if (!ReportStatus("Report start pending")) {
        return;
    }
    if (CreateStopEvent() && StartServer()) {
        m_started = true;
        m_serviceStatus.m_currentState = CServiceStatus::kRunning;
        m_serviceStatus.m_controlsAccepted = CServiceStatus::kAcceptStopShutdown;
        m_serviceStatus.m_waitHint = 0;
        ReportStatus("Report running");
        WaitForStopEvent();
    }
    StopServer();
    m_stopEvent.Close();
    m_serviceStatus.m_currentState = CServiceStatus::kStopped;
    m_serviceStatus.m_controlsAccepted = 0;
    m_serviceStatus.m_waitHint = 0;
    m_serviceStatus.m_checkPoint = 0;
    ReportStatus("Report stopped");
}

void CServerApp::ServiceCtrlHandler(uint32_t control) {
    if (control == 1) {
        m_serviceStatus.m_currentState = CServiceStatus::kStopPending;
        m_serviceStatus.m_waitHint = 30000;
        if (m_stopEvent.IsOpen()) {
            m_stopEvent.Set();
        }
    }
    if (m_serviceStatus.m_currentState == CServiceStatus::kRunning ||
        m_serviceStatus.m_currentState == CServiceStatus::kStopped) {
        m_serviceStatus.m_checkPoint = 0;
    } else {
        ++m_serviceStatus.m_checkPoint;
    }
    ReportStatus("Service Controler");
}
