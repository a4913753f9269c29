// Starting, stopping and watching Tallgrove: as the service when it is installed, otherwise
// as an ordinary program launched from the root's bin/ and stopped through its stop event.
#pragma once

#include <chrono>
#include <functional>
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
    // Running, and its web server answers a task-list request on the address set below (or,
    // with no port set, running alone).
    bool IsServerAnswering();
    // The web server a start waits for; an empty address is this host's loopback.
    void SetWebServer(std::string address, int port);
    // What a poll does between its tests (sleeps by default); the window keeps its events
    // flowing here.
    void SetPollWait(std::function<void(std::chrono::milliseconds)> wait);
    // Launches "Tallgrove -NormalApp" (the root's bin/Tallgrove, else one on PATH) in a session
    // of its own, working in the root; text gets the reason when it fails.
    bool LaunchServerApp(std::string& text);
    // Started or already running, and answering; else text tells why.
    bool DoStartServer(std::string& text);
    // Stopped or not running; else text tells why.
    bool DoStopServer(std::string& text);

    void SetPolling(Polling polling) { m_polling = polling; }

private:
    // Tests `test` up to the poll count until it equals `wanted`.
    bool PollUntil(const std::function<bool()>& test, bool wanted);

    std::string m_root;
    ServiceControlFactory m_serviceFactory;
    bool m_serviceInstalled = false;
    Polling m_polling;
    std::string m_webAddress;
    int m_webPort = 0;
    std::function<void(std::chrono::milliseconds)> m_pollWait;
};
