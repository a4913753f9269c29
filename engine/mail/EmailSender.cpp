#include "engine/mail/EmailSender.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "engine/foundation/FilePaths.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SystemError.h"
#include "engine/mail/MailSpool.h"
#include "engine/mail/SmtpClient.h"
#include "engine/mail/SspEmailOut.h"

namespace {

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

// Queue order: by the stamp, then by the "-N" number of files of one second
// (none counts as 0), so mail goes out in the order it was queued.
struct QueueKey {
    std::string m_stamp;
    long m_number = 0;
    const std::string* m_name = nullptr;

    explicit QueueKey(const std::string& name) : m_name(&name) {
        static const char kShape[] = "dddddddd-dddddd";
        const size_t length = sizeof kShape - 1;
        bool stamped = name.size() >= length;
        for (size_t i = 0; stamped && i < length; ++i) {
            stamped = kShape[i] == 'd' ? IsDigit(name[i]) : name[i] == '-';
        }
        if (!stamped) {
            m_stamp = name;
            return;
        }
        m_stamp = name.substr(0, length);
        if (name.size() > length + 1 && name[length] == '-' && IsDigit(name[length + 1])) {
            m_number = std::strtol(name.c_str() + length + 1, nullptr, 10);
        }
    }

    bool operator<(const QueueKey& other) const {
        if (m_stamp != other.m_stamp) {
            return m_stamp < other.m_stamp;
        }
        if (m_number != other.m_number) {
            return m_number < other.m_number;
        }
        return *m_name < *other.m_name;
    }
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string AfterPrefix(const std::string& line, size_t length) {
    size_t start = line.find_first_not_of(" \t", length);
    return start == std::string::npos ? std::string() : line.substr(start);
}

const char kUndeliveredFolder[] = "undelivered";

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

CEmailSender::CEmailSender(CLogWriter& log, Clock clock) : m_log(log), m_clock(std::move(clock)) {}

std::vector<std::string> CEmailSender::ListOutbox(const std::string& root) {
    std::vector<std::string> names;
    const std::string folder = root + "/mail/outbox";
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) {
        return names;
    }
    while (dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        // Files still being written carry a leading dot and no ".txt".
        if (name.empty() || name[0] == '.' || name.size() < 5 ||
            name.compare(name.size() - 4, 4, ".txt") != 0) {
            continue;
        }
        struct stat info {};
        if (stat((folder + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return QueueKey(a) < QueueKey(b); });
    return names;
}

CEmailSender::CQueuedMail CEmailSender::ParseOutboxText(const std::string& bytes) {
    CQueuedMail mail;
    bool inHeader = true;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r' && end < bytes.size()) {
            line.pop_back();
        }
        pos = next;
        if (!inHeader) {
            mail.m_strBody += line + "\r\n";
            continue;
        }
        if (line.empty()) {
            inHeader = false;
        } else if (StartsWith(line, "From:")) {
            mail.m_strFrom = AfterPrefix(line, 5);
        } else if (StartsWith(line, "To:")) {
            mail.m_strTo = AfterPrefix(line, 3);
        } else if (StartsWith(line, "Cc:")) {
            mail.m_strCc = AfterPrefix(line, 3);
        } else if (StartsWith(line, "Bcc:")) {
            mail.m_strBcc = AfterPrefix(line, 4);
        } else if (StartsWith(line, "Subject:")) {
            mail.m_strSubject = AfterPrefix(line, 8);
        } else {
            mail.m_headerLines.push_back(line);
        }
    }
    return mail;
}

bool CEmailSender::CountOutgoingMail(int max) {
    ++m_nSentToday;
    if (m_nSentToday <= max) {
        return false;
    }
    m_log.Log(
        "----------------------------------------------------\nMaximum number of outgoing emails "
        "has exceeded %d.\nNo more emails will be sent today. \nTo allow more emails to be sent "
        "per day, please change the \nMax Email value on Velmorin Server Console, Server, "
        "Settings, Email Page.",
        max);
    return true;
}

void CEmailSender::ReportRefusals(const CMailSettings& settings, const CQueuedMail& mail,
                                  const std::string& what,
                                  const std::vector<CSmtpClient::CRefusal>& refusals,
                                  const std::string& path) {
    std::string text = "The mail \"" + mail.m_strSubject + "\"";
    if (!path.empty()) {
        text += " (" + path + ")";
    }
    text += " " + what + "\r\n";
    for (const CSmtpClient::CRefusal& refusal : refusals) {
        text += "  " + refusal.m_strRecipient + ": " + refusal.m_strReason + "\r\n";
    }
    m_log.LogText(text);
    // Mail to the administrator alone that cannot reach them is only logged: an
    // error mail about it would meet the same fate, run after run.
    if (mail.m_strTo != settings.m_strAdminEmail || !mail.m_strCc.empty() ||
        !mail.m_strBcc.empty()) {
        m_strJobError += text;
    }
}

void CEmailSender::SendOutbox(const CMailSettings& settings, const std::string& root) {
    m_log.Log("Email Sender started running.");
    if (settings.m_strAdminEmail.empty()) {
        m_strJobError = "Administrator's email address has not been set.";
        return;
    }
    std::vector<std::string> files = ListOutbox(root);
    if (files.empty()) {
        m_log.Log("Email Sender ended. No mail to send.");
        return;
    }
    std::time_t now = Now();
    std::tm local{};
    localtime_r(&now, &local);
    if (m_nSentToday == -1 || m_nDay != local.tm_mday) {
        m_nDay = local.tm_mday;
        m_nSentToday = 0;
    }
    if (settings.m_nMaxEmailOut < m_nSentToday) {
        m_log.Log("Maximum number of outgoing emails per day reached.");
        return;
    }
    CSmtpClient smtp(settings, m_log);
    smtp.SetClock(m_clock);
    if (!smtp.Connect(settings.m_strSmtpServer, settings.m_strSmtpPort)) {
        m_log.Log("Email Sender ended. Failed to connect to SMTP server %s:%s",
                  settings.m_strSmtpServer.c_str(), settings.m_strSmtpPort.c_str());
        return;
    }
    int sent = 0;
    for (const std::string& name : files) {
        const std::string path = root + "/mail/outbox/" + name;
        std::string bytes;
        if (!ReadWholeFile(path, bytes)) {
            m_log.Log("Email Sender failed to open file in outbox.");
            break;
        }
        CQueuedMail mail = ParseOutboxText(bytes);
        if (mail.m_strFrom.empty()) {
            mail.m_strFrom = settings.m_strAdminEmail;
        }
        if (mail.m_strSubject.empty()) {
            mail.m_strSubject = "none";
        }
        int result = smtp.SendMail(mail.m_strFrom, mail.m_strTo, mail.m_strCc, mail.m_strBcc,
                                   mail.m_strSubject, mail.m_headerLines, mail.m_strBody);
        if (result == CSmtpClient::kSent) {
            // Mail that was delivered must leave the outbox: a file that cannot be
            // kept in sent/ is deleted rather than delivered again at every run.
            bool kept = settings.m_bKeepSentMail && MoveMailFile(root, path, "sent", m_log);
            if (!kept && !ForceDeleteFile(path, m_log)) {
                m_log.Log(
                    "Failed to delete outgoing email file %s after it had been sent:\r\n%s\r\n\r\n"
                    "Make sure Velmorin Server has Delete Permission on that folder!",
                    path.c_str(), FormatSystemError(errno).c_str());
            }
            if (!smtp.Refusals().empty()) {
                ReportRefusals(settings, mail, "was sent, but not to:", smtp.Refusals());
            }
            ++sent;
            if (CountOutgoingMail(settings.m_nMaxEmailOut)) {
                break;
            }
        } else if (result == CSmtpClient::kUndeliverable) {
            // Trying again would only be refused again at every run.
            const bool moved = MoveMailFile(root, path, kUndeliveredFolder, m_log);
            ReportRefusals(settings, mail,
                           moved ? "could not be delivered to anyone and was moved to " + root +
                                       "/mail/" + kUndeliveredFolder + "/:"
                                 : "could not be delivered to anyone:",
                           smtp.Refusals(), path);
        } else if (result == CSmtpClient::kConnectionLost || result == CSmtpClient::kSender505) {
            break;
        } else if (result == CSmtpClient::kNoRecipient) {
            m_strJobError = "Failed to send " + path + ". \r\n";
        } else {
            m_log.LogText("Failed to send " + path + "\r\n");
        }
    }
    smtp.Disconnect();
    m_log.Log("Email Sender ended. %d email(s) sent", sent);
}

void CEmailSender::Run(const CMailSettings& settings, const std::string& root) {
    m_strJobError.clear();
    try {
        SendOutbox(settings, root);
    } catch (...) {
        m_strJobError = "Unknown error in Email Sender.";
    }
    if (m_strJobError.empty()) {
        return;
    }
    m_log.LogText("Email Sender ended with error: " + m_strJobError + "\r\n");
    CSspEmailOut::QueueToAdministrator(settings, root, "Email Sender error", m_strJobError, m_log,
                                       m_clock);
}

void CEmailSender::Run(const CServerSettings& settings, const std::string& root) {
    Run(MailSettingsFrom(settings), root);
}
