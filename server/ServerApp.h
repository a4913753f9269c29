// Tallgrove's application object: one server per installation, run as a
// systemd service or, with "-normalapp" (any case) on its command line, as an
// ordinary program; starts the servers, waits for the stop event
// "Tallgrove2stopEvent" (or SIGTERM/SIGINT), and stops them.
//
// Start order: settings, the start lines of the log, the default data source,
// SSL when a certificate is set, the HTTP listener (polled every 100 ms, 50
// times), the HTTPS listener (the same), the scheduler (20 times). Stop order:
// scheduler (5 s), HTTP listener (30 s), HTTPS listener (30 s), server threads,
// SSL credentials, context. A thread that does not end in time is logged and
// abandoned.
//
// The stop event exists from before the first listener opens until the last
// thread has ended, so a stop sent at any moment of the run is taken (one sent
// during the start stops the server once started) and a new server can start
// as soon as the event is gone. "The event exists" thus means "a server runs or
// is starting or stopping"; a stop signal during the start is latched likewise.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/foundation/NamedObject.h"
#include "engine/foundation/ObjectNames.h"
#include "server/ServerStatus.h"
#include "server/ServiceManager.h"

class CServerParts;
class CServerWorker;

class CServerApp {
public:
    struct Timing {
        std::chrono::milliseconds m_poll{100};
        int m_listenerPolls = 50;
        int m_schedulerPolls = 20;
        std::chrono::milliseconds m_schedulerWait{5000};
        std::chrono::milliseconds m_listenerWait{30000};
    };

    // The server of the installation at root. parts and service must outlive it.
    CServerApp(std::string root, CServerParts& parts, CServiceManager& service);
    ~CServerApp();
    CServerApp(const CServerApp&) = delete;
    CServerApp& operator=(const CServerApp&) = delete;

    // The whole run: InitInstance, then ExitInstance. The process's exit code:
    // 0 when the server started and stopped, 1 otherwise.
    int Run(const std::string& commandLine);

    // False when the program must end at once (another server runs, no service
    // manager); otherwise the server has run and stopped.
    bool InitInstance(const std::string& commandLine);
    // Releases the single-instance lock and logs "Velmorin Server ended.".
    void ExitInstance();

    bool StartServer();
    // Creates the stop event unless it exists; logs "Failed to create
    // Tallgrove2stopEvent" and returns false when it cannot be made.
    bool CreateStopEvent();
    // Waits until the event is set (creating it first when needed); the caller
    // removes it once everything has stopped.
    void WaitForStopEvent();
    void StopServer();
    void ServiceMain();
    // control 1 is a stop; every control reports the status.
    void ServiceCtrlHandler(uint32_t control);

    CServerStatus& Status() { return m_status; }
    const CServiceStatus& ServiceStatus() const { return m_serviceStatus; }
    // True when a thread was abandoned: the process must end without running
    // the destructors of what that thread may still touch.
    bool AbandonedThreads() const { return m_abandoned; }
    bool StartSucceeded() const { return m_started; }
    void SetTiming(const Timing& timing) { m_timing = timing; }

private:
    // Starts worker and polls its started flag; false (worker released) when it
    // did not start.
    bool StartWorker(std::unique_ptr<CServerWorker>& worker, int polls, const char* createFailText);
    // Stops worker, waits, logs failText on a time-out; the member is cleared.
    void StopWorker(std::unique_ptr<CServerWorker>& worker, std::chrono::milliseconds wait,
                    const char* failText, bool dumpPosition);
    // Logs and reports the service status; false after logging a failure.
    bool ReportStatus(const char* step);

    std::string m_root;
    CServerParts& m_parts;
    CServiceManager& m_service;
    Timing m_timing;

    CNamedEvent m_stopEvent;
    std::unique_ptr<CServerWorker> m_scriptThread;
    std::unique_ptr<CServerWorker> m_listener;
    std::unique_ptr<CServerWorker> m_sslListener;
    CNamedMutex m_singleMutex;

    CServerStatus m_status;
    CServiceStatus m_serviceStatus;
    bool m_serviceMode = false;
    bool m_started = false;
    bool m_abandoned = false;
};
