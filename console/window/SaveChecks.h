// What Save checks in the settings sheet's working copy before anything is stopped or written:
// a function of the copy, the process's settings and whether the server runs.
#pragma once

#include <string>

class CServerSettings;

struct CSaveCheck {
    // Why the copy cannot be saved; empty when it can.
    std::string m_refusal;
    // More than one Email Importer is enabled: a warning, no refusal.
    bool m_warnImporters = false;
    // The running server must be stopped for the copy's address or port.
    bool m_askAddressChange = false;
};

// The tasks that take part in the checks: the first 13.
inline constexpr size_t kCheckedTasks = 13;

CSaveCheck CheckSettingsForSave(const CServerSettings& copy, const CServerSettings& global,
                                bool running);

// The warning shown when more than one Email Importer is enabled.
const std::string& ImportersWarning();
