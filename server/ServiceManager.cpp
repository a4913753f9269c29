#include "server/ServiceManager.h"

#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstdlib>
#include <string>

const char* ServiceStateName(uint32_t state) {
    switch (state) {
        case CServiceStatus::kStopped:
            return "stopped";
        case CServiceStatus::kStartPending:
            return "start pending";
        case CServiceStatus::kStopPending:
            return "stop pending";
        case CServiceStatus::kRunning:
            return "running";
        default:
            return "unknown";
    }
}

namespace {

bool HasEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

class CSystemdServiceManager : public CServiceManager {
public:
    bool IsPresent() const override {
        return HasEnvironment("NOTIFY_SOCKET") || HasEnvironment("INVOCATION_ID");
    }

    bool Report(const CServiceStatus& status) override {
        std::string message;
        switch (status.m_currentState) {
            case CServiceStatus::kStartPending:
                message = "STATUS=Starting";
                break;
            case CServiceStatus::kRunning:
                message = "READY=1\nSTATUS=Running";
                break;
            case CServiceStatus::kStopPending:
                message = "STOPPING=1\nSTATUS=Stopping";
                break;
            default:
                message = "STATUS=Stopped";
                break;
        }
        if (status.m_waitHint > 0) {
            message += "\nEXTEND_TIMEOUT_USEC=" +
                       std::to_string(static_cast<uint64_t>(status.m_waitHint) * 1000);
        }
        const int rc = sd_notify(0, message.c_str());
        if (rc < 0) {
            errno = -rc;
            return false;
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<CServiceManager> MakeSystemdServiceManager() {
    return std::make_unique<CSystemdServiceManager>();
}
