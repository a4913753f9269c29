#include "console/SystemdServiceControl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "engine/foundation/UniqueFd.h"
#include "engine/script/ProcessRunner.h"

namespace {

constexpr const char* kDropIn = "dependency.conf";

}  // namespace

CSystemdServiceControl::CSystemdServiceControl() : CSystemdServiceControl(Config{}) {}

CSystemdServiceControl::CSystemdServiceControl(Config config) : m_config(std::move(config)) {
    m_opened = m_config.m_hostRunsSystemd ? m_config.m_hostRunsSystemd()
                                          : ::access("/run/systemd/system", F_OK) == 0;
}

std::string CSystemdServiceControl::UnitName(const std::string& name) {
    return name.find('.') == std::string::npos ? name + ".service" : name;
}

std::string CSystemdServiceControl::UnitText(const std::string& name, const std::string& command) {
    return "[Unit]\nDescription=" + name + "\n\n[Service]\nType=notify\nExecStart=" + command +
           "\nTimeoutStartSec=" + std::to_string(kUnitTimeoutSeconds) +
           "\nTimeoutStopSec=" + std::to_string(kUnitTimeoutSeconds) +
           "\n\n[Install]\nWantedBy=multi-user.target\n";
}

int CSystemdServiceControl::Run(const std::vector<std::string>& arguments, int waitSeconds) {
    std::vector<std::string> args = {"--no-ask-password"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    CRunOptions options;
    options.m_searchPath = true;
    const CRunOutcome outcome =
        RunProgram(m_config.m_systemctl, args, waitSeconds * 1000LL, options);
    std::string command = "systemctl";
    for (const std::string& arg : arguments) {
        command += " " + arg;
    }
    if (outcome.m_kind == CRunOutcome::kExited) {
        m_lastFailure =
            command + " ended with exit code " + std::to_string(outcome.m_exitCode) + ".";
        return outcome.m_exitCode;
    }
    m_lastFailure = outcome.m_kind == CRunOutcome::kTimedOut
                        ? command + " did not end within " + std::to_string(waitSeconds) + " s."
                        : command + ": " + RunOutcomeText(outcome);
    return -1;
}

bool CSystemdServiceControl::RunOk(const std::vector<std::string>& arguments) {
    const int code = Run(arguments);
    return code == 0 || Fail(code, m_lastFailure);
}

bool CSystemdServiceControl::DoIsInstalled(const std::string& name) {
    // status: 4 is "no such unit"; 0 and 3 are a known unit, running or not.
    const int code = Run({"status", UnitName(name)});
    return code >= 0 && code != 4;
}

bool CSystemdServiceControl::DoIsRunning(const std::string& name) {
    return Run({"is-active", "--quiet", UnitName(name)}) == 0;
}

bool CSystemdServiceControl::DoStart(const std::string& name) {
    if (!RunOk({"start", UnitName(name)})) {
        return false;
    }
    return DoIsRunning(name) || Fail(0, "The service did not reach the running state.");
}

bool CSystemdServiceControl::DoStop(const std::string& name) {
    if (!DoIsRunning(name)) {
        return true;
    }
    if (!RunOk({"stop", UnitName(name)})) {
        return false;
    }
    return !DoIsRunning(name) || Fail(0, "Failed to wait for the service to stop.");
}

bool CSystemdServiceControl::DoRemove(const std::string& name) {
    const std::string unit = UnitName(name);
    if (!DoStop(name) || !RunOk({"disable", unit}) || !RunOk({"unmask", unit})) {
        return false;
    }
    std::error_code error;
    std::filesystem::remove_all(m_config.m_unitFolder + "/" + unit + ".d", error);
    if (::unlink((m_config.m_unitFolder + "/" + unit).c_str()) != 0 && errno != ENOENT) {
        return FailErrno(errno);
    }
    return RunOk({"daemon-reload"});
}

bool CSystemdServiceControl::DoQueryStartType(const std::string& name, int& type) {
    const std::string unit = UnitName(name);
    std::error_code error;
    const std::string masked = m_config.m_maskFolder + "/" + unit;
    if (std::filesystem::is_symlink(masked, error) &&
        std::filesystem::read_symlink(masked, error) == "/dev/null") {
        type = kDisabled;
    } else {
        type = Run({"is-enabled", "--quiet", unit}) == 0 ? kAutomatic : kManual;
    }
    return true;
}

bool CSystemdServiceControl::DoChangeStartType(const std::string& name, int type) {
    const std::string unit = UnitName(name);
    switch (type) {
        case kAutomatic:
            return RunOk({"unmask", unit}) && RunOk({"enable", unit});
        case kManual:
            return RunOk({"unmask", unit}) && RunOk({"disable", unit});
        case kDisabled:
            return RunOk({"mask", unit});
        default:
            return Fail(EINVAL, "Unknown start type " + std::to_string(type) + ".");
    }
}

std::string CSystemdServiceControl::DropInPath(const std::string& name) const {
    return m_config.m_unitFolder + "/" + UnitName(name) + ".d/" + kDropIn;
}

bool CSystemdServiceControl::DoSetDependency(const std::string& name,
                                             const std::string& dependency) {
    const std::string path = DropInPath(name);
    if (dependency.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return FailErrno(errno);
        }
    } else {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        if (error) {
            return FailErrno(error.value());
        }
        const std::string unit = UnitName(dependency);
        if (!WriteFile(path, "[Unit]\nRequires=" + unit + "\nAfter=" + unit + "\n")) {
            return false;
        }
    }
    return RunOk({"daemon-reload"});
}

bool CSystemdServiceControl::DoInstall(const std::string& command, const std::string& name,
                                       int startType, const std::string& dependency) {
    std::error_code error;
    std::filesystem::create_directories(m_config.m_unitFolder, error);
    if (error) {
        return FailErrno(error.value());
    }
    if (!WriteFile(m_config.m_unitFolder + "/" + UnitName(name), UnitText(name, command))) {
        return false;
    }
    if (!dependency.empty()) {
        return DoSetDependency(name, dependency) && DoChangeStartType(name, startType);
    }
    return RunOk({"daemon-reload"}) && DoChangeStartType(name, startType);
}

bool CSystemdServiceControl::DoCanInstall() {
    std::filesystem::path folder = m_config.m_unitFolder;
    struct stat st {};
    while (::stat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT || !folder.has_relative_path()) {
            return FailErrno(errno);
        }
        folder = folder.parent_path();
    }
    if (!S_ISDIR(st.st_mode)) {
        return FailErrno(ENOTDIR);
    }
    return ::access(folder.c_str(), W_OK | X_OK) == 0 || FailErrno(errno);
}

bool CSystemdServiceControl::WriteFile(const std::string& path, const std::string& text) {
    CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) {
        return FailErrno(errno);
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FailErrno(errno);
        }
        done += static_cast<size_t>(n);
    }
    return true;
}
