// The Email Sender task: one run sends every complete ".txt" file of
// <root>/mail/outbox, in name order, through one SMTP session, then moves each
// sent file to mail/sent (EmKeepSentMail) or deletes it. It counts the mail
// sent per day and stops once the day's count passes EmMaxEmailOut: the mail
// that crosses the limit is still sent, later runs that day send nothing.
// A message that no recipient can take (each refused with a 5xx reply or not
// an address) is moved to mail/undelivered instead of being tried at every
// run; recipients left out of a message that was sent are named too. Errors
// the administrator must see are mailed to EmAdminEmail after the run.
//
// The object lives as long as the thread that runs the scheduled tasks and is
// used by that thread only.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/mail/MailSettings.h"
#include "engine/mail/SmtpClient.h"

class CLogWriter;
class CServerSettings;

class CEmailSender {
public:
    using Clock = std::function<std::time_t()>;

    // An empty clock is the system clock. The clock gives the day the count
    // belongs to, the stamp of queued error mail and the Date header.
    explicit CEmailSender(CLogWriter& log, Clock clock = {});

    // One run of the task: SendOutbox, then, when it left a job error, the log
    // line "Email Sender ended with error: ..." and an error mail queued to the
    // administrator (none when no administrator address is set: it could never
    // be delivered).
    void Run(const CMailSettings& settings, const std::string& root);
    void Run(const CServerSettings& settings, const std::string& root);

    // One pass over the outbox, without the error mail.
    void SendOutbox(const CMailSettings& settings, const std::string& root);

    // Adds one to the day's count; true (and logged) when it now exceeds max.
    bool CountOutgoingMail(int max);

    const std::string& JobError() const { return m_strJobError; }
    int SentToday() const { return m_nSentToday; }

    // The outbox files a run takes, in the order it sends them: complete
    // ".txt" files only, in queue order: by stamp, then by the "-N" number
    // ("<stamp>.txt", "<stamp>-1.txt", ..., "<stamp>-10.txt").
    static std::vector<std::string> ListOutbox(const std::string& root);

    // One outbox file read back: envelope, subject, extra header lines and the
    // body lines joined with CR LF (each line, the last included, ends CR LF).
    struct CQueuedMail {
        std::string m_strFrom;
        std::string m_strTo;
        std::string m_strCc;
        std::string m_strBcc;
        std::string m_strSubject;
        std::vector<std::string> m_headerLines;
        std::string m_strBody;
    };
    // Parses an outbox file's bytes (line ends CR LF or LF).
    static CQueuedMail ParseOutboxText(const std::string& bytes);

private:
    // Logs which recipients a message missed and why and, unless it went to the
    // administrator alone, adds that to the job error.
    void ReportRefusals(const CMailSettings& settings, const CQueuedMail& mail,
                        const std::string& what, const std::vector<CSmtpClient::CRefusal>& refusals,
                        const std::string& path = {});
    std::time_t Now() const { return m_clock ? m_clock() : std::time(nullptr); }

    CLogWriter& m_log;
    Clock m_clock;
    int m_nDay = 0;         // day of the month the count belongs to
    int m_nSentToday = -1;  // -1 before the first run
    std::string m_strJobError;
};
