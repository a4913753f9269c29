// The mail library's side of the system-script thread's hooks: task row 0 runs the Email
// Sender, whose day count lives as long as this object, and a failed task's error mail is
// queued to the administrator (nothing is queued while no administrator address is set).
//
// The server program makes one at start-up, installs it with CSchedulerMailHooks::Install
// and keeps it until the scheduler has ended. Used on the system-script thread only.
#pragma once

#include <string>

#include "engine/mail/EmailSender.h"
#include "engine/web/SchedulerMailHooks.h"

class CLogWriter;
class CServerSettings;

class CMailSchedulerHooks : public CSchedulerMailHooks {
public:
    // Reads the mail settings of `settings` at every call and the time from its clock;
    // the outbox lies under `root`.
    CMailSchedulerHooks(const CServerSettings& settings, std::string root, CLogWriter& log);
    // Over g_settings, g_rootDir and g_log.
    CMailSchedulerHooks();

    void RunEmailSender() override;
    void QueueAdminMail(const std::string& subject, const std::string& content) override;

    const CEmailSender& Sender() const { return m_sender; }

private:
    const CServerSettings& m_settings;
    const std::string m_root;
    CLogWriter& m_log;
    CEmailSender m_sender;
};
