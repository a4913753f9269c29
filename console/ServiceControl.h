// The service manager as the console uses it: whether the server's service exists and
// runs, starting and stopping it, and installing, removing and reconfiguring it. One object
// per use; every operation empties the error text first and sets it when it fails.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CServiceControl {
public:
    enum StartType { kAutomatic = 0, kManual = 1, kDisabled = 2 };
    static constexpr size_t kMaxDependency = 50;

    virtual ~CServiceControl() = default;

    // False when the host has no service manager this console can use.
    virtual bool IsOpened() const = 0;

    bool IsInstalled(const std::string& name);
    bool IsRunning(const std::string& name);
    // Starts the service and waits until it runs; false when it did not come up.
    bool Start(const std::string& name);
    // Stops the service and waits until it stopped; true at once when it was not running.
    bool Stop(const std::string& name);
    // Stops the service, then deletes it.
    bool Remove(const std::string& name);
    bool QueryStartType(const std::string& name, int& type);
    bool ChangeStartType(const std::string& name, int type);
    // One unit the service needs; empty removes it. Over kMaxDependency characters refused.
    bool SetDependency(const std::string& name, const std::string& dependency);
    // The service running `programPath`, with its start type and dependency.
    bool Install(const std::string& programPath, const std::string& name, int startType,
                 const std::string& dependency);

    const std::string& Error() const { return m_strError; }
    int ErrorCode() const { return m_nError; }

    // Whether Install could succeed on this host, asked before a running server is stopped
    // for it; false with the reason as the error.
    bool CanInstall();

    // The program path as a service command: in double quotes when it holds a blank.
    static std::string CommandPath(const std::string& programPath);

protected:
    virtual bool DoIsInstalled(const std::string& name) = 0;
    virtual bool DoIsRunning(const std::string& name) = 0;
    virtual bool DoStart(const std::string& name) = 0;
    virtual bool DoStop(const std::string& name) = 0;
    virtual bool DoRemove(const std::string& name) = 0;
    virtual bool DoQueryStartType(const std::string& name, int& type) = 0;
    virtual bool DoChangeStartType(const std::string& name, int type) = 0;
    virtual bool DoSetDependency(const std::string& name, const std::string& dependency) = 0;
    virtual bool DoInstall(const std::string& command, const std::string& name, int startType,
                           const std::string& dependency) = 0;
    virtual bool DoCanInstall() = 0;

    // Records a failure; always false.
    bool Fail(int code, const std::string& text);
    // Records errno's failure with the system's text; always false.
    bool FailErrno(int code);

private:
    bool NotOpened();

    std::string m_strError;
    int m_nError = 0;
};

using ServiceControlFactory = std::function<std::unique_ptr<CServiceControl>()>;
