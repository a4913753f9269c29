#include "console/window/SaveChecks.h"

#include <algorithm>

#include "console/ConsoleMessages.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/Tokenizer.h"
#include "engine/settings/ServerSettings.h"

namespace {

// True when any address of the list (split at ",; ") equals `address` but for case.
bool ListHolds(const std::string& list, const std::string& address) {
    CTokenizer addresses(list.c_str(), ",; ");
    for (std::string part = addresses.NextPart(); !part.empty(); part = addresses.NextPart()) {
        if (AsciiEqualNoCase(part, address)) {
            return true;
        }
    }
    return false;
}

// The task rules; counts the enabled importers.
std::string CheckTasks(const CServerSettings& copy, int& importers, bool& senderEnabled) {
    const size_t count = std::min(copy.m_tasks.size(), kCheckedTasks);
    for (size_t i = 0; i < count; ++i) {
        const CTaskEntry& task = copy.m_tasks[i];
        if (i == 0) {
            senderEnabled = task.m_enabled;
        } else {
            if (task.m_enabled && task.m_name.find("Email Importer") != std::string::npos) {
                ++importers;
            }
            if (task.m_enabled && !senderEnabled) {
                return "For task 2 and above to work, you must enable Email Sender.";
            }
        }
        // Midnight is a time of day like any other: only an interval must be a minute or more.
        if (task.m_dayCode == CTaskEntry::kInterval && task.m_interval < 1) {
            return "Interval of task " + task.m_name +
                   " is smaller than 1 minute. That is not allowed. ";
        }
    }
    return std::string();
}

std::string CheckMail(const CServerSettings& copy, bool senderEnabled, int importers) {
    if (senderEnabled && copy.EmSmtpServer.empty()) {
        return "Please go to email page to set SMTP Host for Email Sender to work.";
    }
    if (senderEnabled && copy.EmAdminEmail.empty()) {
        return "Please go to email page to set the Administrator Email Addresses for Email "
               "Sender to work.";
    }
    if (importers == 0) {
        return std::string();
    }
    if (copy.EmPop3Server.empty() || copy.EmImporterEmail.empty() ||
        copy.EmImporterUserName.empty() || copy.EmImporterPassword.empty()) {
        return "POP3 host or email account for Email Importer has not been set up yet.\nPlease "
               "go to the Email page to set them.";
    }
    if (ListHolds(copy.EmAdminEmail, copy.EmImporterEmail) ||
        ListHolds(copy.EmDispatcherEmail, copy.EmImporterEmail)) {
        return ConsoleMessages().msgImporterAddress;
    }
    return std::string();
}

}  // namespace

CSaveCheck CheckSettingsForSave(const CServerSettings& copy, const CServerSettings& global,
                                bool running) {
    CSaveCheck check;
    if (copy.GeneralSessionTimeout < 1 || copy.GeneralSessionTimeout > 1440) {
        check.m_refusal =
            "Session time out can not be smaller than 1 minute or larger than 1440 minutes.";
    } else if (copy.GeneralMaxUpload < 1 || copy.GeneralMaxUpload > 1000) {
        check.m_refusal = "Maximum upload can not be smaller than 1M or larger than 1000M. ";
    } else if (copy.DbOdbcConnectString.empty()) {
        check.m_refusal =
            "ODBC connect string has not been set yet.\nPlease goto the Database page and click "
            "on the change button to set it.";
    }
    if (!check.m_refusal.empty()) {
        return check;
    }
    int importers = 0;
    bool senderEnabled = false;
    check.m_refusal = CheckTasks(copy, importers, senderEnabled);
    if (check.m_refusal.empty()) {
        check.m_refusal = CheckMail(copy, senderEnabled, importers);
    }
    if (!check.m_refusal.empty()) {
        return check;
    }
    check.m_warnImporters = importers > 1;
    check.m_askAddressChange = running && (copy.GeneralTcpipAddress != global.GeneralTcpipAddress ||
                                           copy.GeneralTcpipPort != global.GeneralTcpipPort);
    return check;
}

const std::string& ImportersWarning() {
    static const std::string text =
        "Warning: You enabled more than one Email Importer.\nBy default, all of them will try to "
        "retrieve emails from\nthe same POP3 email account you entered in the Email Page.\n\nYou "
        "must modify all scirpt\\importer.zrs and have\nthem retrieve emails from different "
        "email accounts!";
    return text;
}
