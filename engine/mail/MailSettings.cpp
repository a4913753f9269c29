#include "engine/mail/MailSettings.h"

#include "engine/settings/ServerSettings.h"

std::string CMailSettings::ContentTypeFor(const std::string& fileName) const {
    return m_mimeMap.ContentTypeForFile(fileName);
}

CMailSettings MailSettingsFrom(const CServerSettings& settings) {
    CMailSettings mail;
    mail.m_strAdminEmail = settings.EmAdminEmail;
    mail.m_strSmtpServer = settings.EmSmtpServer;
    mail.m_strSmtpPort = settings.EmSmtpPort;
    mail.m_strSmtpUserName = settings.EmSmtpUserName;
    mail.m_strSmtpPassword = settings.EmSmtpPassword;
    mail.m_nSmtpTimeout = settings.SmtpTimeout;
    mail.m_bLogSmtp = settings.LogSmtp;
    mail.m_nMaxEmailOut = settings.EmMaxEmailOut;
    mail.m_bKeepSentMail = settings.EmKeepSentMail;
    mail.m_strTextEncoding = settings.MimeTextEncoding;
    mail.m_mimeMap = settings.m_mimeMap;
    return mail;
}
