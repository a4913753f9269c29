#include "engine/mail/MailSettings.h"

#include "engine/settings/ServerSettings.h"

std::string CMailSettings::ContentTypeFor(const std::string& fileName) const {
    size_t dot = fileName.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
    for (char& ch : extension) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
    return m_mimeMap.ContentTypeFor(extension);
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
