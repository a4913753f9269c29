// The mail library's queue for Server.SendMail: each call becomes one email_out
// message in the outbox, sent later by the Email Sender.
#pragma once

#include <string>

#include "engine/mail/MailSpool.h"
#include "engine/web/ServerContext.h"

class CLogWriter;
class CServerSettings;

class CMailAdminMailer : public CAdminMailer {
public:
    // Reads the mail settings of `settings` at every call; the outbox lies under `root`.
    // `settings` and `log` must outlive the mailer.
    CMailAdminMailer(const CServerSettings& settings, std::string root, CLogWriter& log,
                     MailClock clock = {});
    // Over g_settings, g_rootDir and g_log.
    CMailAdminMailer();

    // Queues a message to `to` from the administrator (an empty `to` goes to the
    // administrator, marked as having no receiver). True when the outbox file was written;
    // a refusal or a write failure is logged by the message itself.
    bool Send(const std::string& to, const std::string& subject,
              const std::string& content) override;

private:
    const CServerSettings& m_settings;
    const std::string m_root;
    CLogWriter& m_log;
    MailClock m_clock;
};
