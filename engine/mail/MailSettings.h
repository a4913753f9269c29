// The settings that outgoing mail reads, copied out of the server's settings
// so that the mail code can be driven (and tested) without a settings store.
#pragma once

#include <string>

#include "engine/settings/MimeMap.h"

class CServerSettings;

struct CMailSettings {
    std::string m_strAdminEmail;  // administrator: default sender, receiver of job errors
    std::string m_strSmtpServer;  // outgoing mail server
    std::string m_strSmtpPort = "25";
    std::string m_strSmtpUserName;  // empty: no authentication
    std::string m_strSmtpPassword;
    int m_nSmtpTimeout = 60;        // seconds
    bool m_bLogSmtp = false;        // log the SMTP traffic (never the credentials)
    int m_nMaxEmailOut = 500;       // mails per day
    bool m_bKeepSentMail = false;   // move sent mail to mail/sent instead of deleting it
    std::string m_strTextEncoding;  // charset of text bodies; may be empty
    CMimeMap m_mimeMap;             // attachment types by extension

    // The content type for a file name: the map's entry for its extension (the
    // text after the last '.', lower-cased), else the "*" entry, else
    // "application/octet-stream".
    std::string ContentTypeFor(const std::string& fileName) const;
};

// The mail settings of a loaded server settings object.
CMailSettings MailSettingsFrom(const CServerSettings& settings);
