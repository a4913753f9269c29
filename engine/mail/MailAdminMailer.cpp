#include "engine/mail/MailAdminMailer.h"

#include <utility>

#include "engine/foundation/LogWriter.h"
#include "engine/mail/MailSettings.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"

CMailAdminMailer::CMailAdminMailer(const CServerSettings& settings, std::string root,
                                   CLogWriter& log, MailClock clock)
    : m_settings(settings), m_root(std::move(root)), m_log(log), m_clock(std::move(clock)) {}

CMailAdminMailer::CMailAdminMailer() : CMailAdminMailer(g_settings, g_rootDir, g_log) {}

bool CMailAdminMailer::Send(const std::string& to, const std::string& subject,
                            const std::string& content) {
    CSspEmailOut mail;
    mail.m_strTo = to;
    mail.m_strSubject = subject;
    mail.m_strContent = content;
    return mail.Send(MailSettingsFrom(m_settings), m_root, m_log, m_clock) == 1;
}
