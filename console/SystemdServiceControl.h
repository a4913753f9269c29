// The service as a systemd unit, controlled through systemctl.
//
// The unit "<name>.service" is Type=notify and runs the program directly, as root, from
// /usr/local/lib/systemd/system (a unit file in /etc/systemd/system could not be masked).
// Start types: automatic = enabled, manual = not enabled, disabled = masked. The dependency
// is a drop-in holding Requires= and After= of the named unit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console/ServiceControl.h"

class CSystemdServiceControl : public CServiceControl {
public:
    struct Config {
        // Run through PATH, so tests can put their own first.
        std::string m_systemctl = "systemctl";
        std::string m_unitFolder = "/usr/local/lib/systemd/system";
        // Where systemctl mask links a unit to /dev/null.
        std::string m_maskFolder = "/etc/systemd/system";
        // Whether the host runs systemd; empty: /run/systemd/system exists.
        std::function<bool()> m_hostRunsSystemd;
    };
    // Start and stop wait at most this long, the unit's own time-outs.
    static constexpr int kUnitTimeoutSeconds = 30;

    CSystemdServiceControl();
    explicit CSystemdServiceControl(Config config);

    bool IsOpened() const override { return m_opened; }

    // The unit's file name: ".service" added when the name has no suffix.
    static std::string UnitName(const std::string& name);
    // The unit file's text for the command.
    static std::string UnitText(const std::string& name, const std::string& command);

protected:
    bool DoIsInstalled(const std::string& name) override;
    bool DoIsRunning(const std::string& name) override;
    bool DoStart(const std::string& name) override;
    bool DoStop(const std::string& name) override;
    bool DoRemove(const std::string& name) override;
    bool DoQueryStartType(const std::string& name, int& type) override;
    bool DoChangeStartType(const std::string& name, int type) override;
    bool DoSetDependency(const std::string& name, const std::string& dependency) override;
    bool DoInstall(const std::string& command, const std::string& name, int startType,
                   const std::string& dependency) override;
    // The unit folder, or the folder it would be made in, takes new files.
    bool DoCanInstall() override;

private:
    // systemctl's exit code, or -1 when it did not run or end in time.
    int Run(const std::vector<std::string>& arguments, int waitSeconds = kUnitTimeoutSeconds);
    // Runs and records a failure unless it exits with 0.
    bool RunOk(const std::vector<std::string>& arguments);
    bool WriteFile(const std::string& path, const std::string& text);
    std::string DropInPath(const std::string& name) const;

    Config m_config;
    bool m_opened = false;
    std::string m_lastFailure;
};
