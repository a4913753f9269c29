// Starting, stopping and watching Tallgrove: as the service when it is installed, otherwise
// as an ordinary program launched from the root's bin/ and stopped through its stop event.
#pragma once

#include <chrono>
#include <string>

#include "console/ServiceControl.h"

class CServerControl {
public:
    struct Polling {
        int m_count = 10;
        std::chrono::milliseconds m_interval{1000};
    };

    // The installation at root; the factory makes the service manager for each operation.
    CServerControl(std::string root, ServiceControlFactory serviceFactory);

    // Asks the service manager whether the service exists and remembers the answer.
    void ProbeService();
    bool IsServiceInstalled() const { return m_serviceInstalled; }
    void SetServiceInstalled(bool installed) { m_serviceInstalled = installed; }
    // "NT Service " for the service, else "".
    std::string Kind() const;

    bool IsServerRunning();
    // Launches "Tallgrove -NormalApp" (the root's bin/Tallgrove, else one on PATH) in a session
    // of its own, working in the root; text gets the reason when it fails.
    bool LaunchServerApp(std::string& text);
    // Started or already running; else text tells why.
    bool DoStartServer(std::string& text);
    // Stopped or not running; else text tells why.
    bool DoStopServer(std::string& text);

    void SetPolling(Polling polling) { m_polling = polling; }

private:
    // Tests IsServerRunning up to the poll count until it equals `wanted`.
    bool PollUntil(bool wanted);

    std::string m_root;
    ServiceControlFactory m_serviceFactory;
    bool m_serviceInstalled = false;
    Polling m_polling;
};
