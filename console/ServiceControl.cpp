#include "console/ServiceControl.h"

#include "engine/foundation/SystemError.h"

namespace {

constexpr const char* kNoManager = "The service manager is not available on this host.";

}  // namespace

bool CServiceControl::Fail(int code, const std::string& text) {
    m_nError = code;
    m_strError = text;
    return false;
}

bool CServiceControl::FailErrno(int code) {
    return Fail(code, FormatSystemError(code));
}

bool CServiceControl::NotOpened() {
    m_strError.clear();
    m_nError = 0;
    if (IsOpened()) {
        return false;
    }
    Fail(0, kNoManager);
    return true;
}

bool CServiceControl::IsInstalled(const std::string& name) {
    return !NotOpened() && DoIsInstalled(name);
}

bool CServiceControl::IsRunning(const std::string& name) {
    return !NotOpened() && DoIsRunning(name);
}

bool CServiceControl::Start(const std::string& name) {
    return !NotOpened() && DoStart(name);
}

bool CServiceControl::Stop(const std::string& name) {
    return !NotOpened() && DoStop(name);
}

bool CServiceControl::Remove(const std::string& name) {
    return !NotOpened() && DoRemove(name);
}

bool CServiceControl::QueryStartType(const std::string& name, int& type) {
    return !NotOpened() && DoQueryStartType(name, type);
}

bool CServiceControl::ChangeStartType(const std::string& name, int type) {
    return !NotOpened() && DoChangeStartType(name, type);
}

bool CServiceControl::SetDependency(const std::string& name, const std::string& dependency) {
    if (NotOpened()) {
        return false;
    }
    if (dependency.size() > kMaxDependency) {
        return Fail(0, "Service dependency can not longer than 50 charaters.");
    }
    return DoSetDependency(name, dependency);
}

bool CServiceControl::Install(const std::string& programPath, const std::string& name,
                              int startType, const std::string& dependency) {
    if (NotOpened()) {
        return false;
    }
    if (dependency.size() > kMaxDependency) {
        return Fail(0, "Service dependency can not longer than 50 charaters.");
    }
    return DoInstall(CommandPath(programPath), name, startType, dependency);
}

bool CServiceControl::CanInstall() {
    return !NotOpened() && DoCanInstall();
}

std::string CServiceControl::CommandPath(const std::string& programPath) {
    if (programPath.find(' ') != std::string::npos) {
        return "\"" + programPath + "\"";
    }
    return programPath;
}
