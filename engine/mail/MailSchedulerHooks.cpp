#include "engine/mail/MailSchedulerHooks.h"

#include <utility>

#include "engine/foundation/LogWriter.h"
#include "engine/mail/MailSettings.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"

CMailSchedulerHooks::CMailSchedulerHooks(const CServerSettings& settings, std::string root,
                                         CLogWriter& log)
    : m_settings(settings),
      m_root(std::move(root)),
      m_log(log),
      m_sender(log, [this] { return m_settings.Now(); }) {}

CMailSchedulerHooks::CMailSchedulerHooks() : CMailSchedulerHooks(g_settings, g_rootDir, g_log) {}

void CMailSchedulerHooks::RunEmailSender() {
    m_sender.Run(m_settings, m_root);
}

void CMailSchedulerHooks::QueueAdminMail(const std::string& subject, const std::string& content) {
    CSspEmailOut::QueueToAdministrator(MailSettingsFrom(m_settings), m_root, subject, content,
                                       m_log, [this] { return m_settings.Now(); });
}
