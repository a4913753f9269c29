// The service manager the server reports to when it runs as a service: systemd
// on this platform (readiness and stopping through sd_notify), behind a small
// interface so that tests can watch the reports.
#pragma once

#include <cstdint>
#include <memory>

// What the server tells the service manager, with the fields and values of
// the classic service status record.
struct CServiceStatus {
    enum State : uint32_t { kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4 };
    // Stop and shutdown.
    static constexpr uint32_t kAcceptStopShutdown = 5;
    static constexpr uint32_t kOwnProcess = 16;

    uint32_t m_serviceType = kOwnProcess;
    uint32_t m_currentState = kStopped;
    uint32_t m_controlsAccepted = 0;
    uint32_t m_exitCode = 0;
    uint32_t m_serviceExitCode = 0;
    uint32_t m_checkPoint = 0;
    uint32_t m_waitHint = 0;  // milliseconds
};

// The name of a state for the log ("start pending", ...).
const char* ServiceStateName(uint32_t state);

class CServiceManager {
public:
    virtual ~CServiceManager() = default;
    // True when this process was started by a service manager.
    virtual bool IsPresent() const = 0;
    // Reports status; false with errno set when the report could not be made.
    virtual bool Report(const CServiceStatus& status) = 0;
};

// systemd: present when the process has a notification socket or an invocation
// id; running is READY=1, stop pending STOPPING=1, and the wait hints extend
// systemd's time-outs. Under a unit without a notification socket the reports
// are accepted and go nowhere.
std::unique_ptr<CServiceManager> MakeSystemdServiceManager();
