// The SMTP client of the Email Sender: one plain TCP session to the outgoing
// mail server. Order of use: Connect, SendMail any number of times, Disconnect.
// Not thread-safe; one client serves one thread.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/mail/MailSettings.h"

class CLogWriter;
class CSocketConn;

class CSmtpClient {
public:
    // Results of SendMail.
    enum : int {
        kSent = 0,
        kNoRecipient = -1,     // to is empty; nothing was sent
        kConnectionLost = -2,  // a command or the data could not be sent, or no reply came
        kRefused = -3,         // sender, a recipient, DATA or the message refused; RSET sent
        kSender505 = -4,       // MAIL answered with 505; RSET sent
        // No recipient can ever take it: each was refused with a 5xx reply or is not
        // an address, or the sender is not an address. RSET sent when a command was.
        kUndeliverable = -5,
    };

    // A recipient that a message was not sent to, and why: the server's reply
    // (all its lines) or the text saying that it is not an address.
    struct CRefusal {
        std::string m_strRecipient;
        std::string m_strReason;
    };

    // Reads the user name, password, time-out and LogSmtp switch from settings.
    CSmtpClient(const CMailSettings& settings, CLogWriter& log);
    virtual ~CSmtpClient();
    CSmtpClient(const CSmtpClient&) = delete;
    CSmtpClient& operator=(const CSmtpClient&) = delete;

    // Opens the session: greeting, then EHLO and authentication when a user
    // name is set (HELO when the server refuses EHLO), else HELO. An empty port
    // means "25". Returns true when the session is ready for mail; a failed
    // authentication is logged but still returns true (the server then refuses
    // the mail).
    bool Connect(const std::string& host, const std::string& port);

    // Sends one message to every address of to, cc and bcc (see MailAddress.h).
    // A recipient refused with a 5xx reply, or an element that is not an
    // address, is left out and named in Refusals(); the message goes to the
    // others, or, when none is left, kUndeliverable is returned. Any other
    // refusal of a recipient (4xx) refuses the whole message (kRefused) so that
    // it can be tried again as a whole. The body is the message text after the header block;
    // the client puts it in wire form (every line break CR LF, a lone CR or LF
    // included, and one more "." in front of every line that begins with "."),
    // so the body can never end the data early. The client writes the Date,
    // From, To, Cc, Subject and X-Mailer lines and the extra header lines (never
    // a Bcc line), and appends the end of data. Returns one of the codes above.
    int SendMail(const std::string& from, const std::string& to, const std::string& cc,
                 const std::string& bcc, const std::string& subject,
                 const std::vector<std::string>& headerLines, const std::string& body);

    // The recipients that the last SendMail left out.
    const std::vector<CRefusal>& Refusals() const { return m_refusals; }

    // Sends QUIT, reads the reply and closes the connection.
    void Disconnect();

    // The clock of the Date header; the system clock unless a test sets one.
    void SetClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }

    // The Date header's value for a moment, in local time with English names,
    // e.g. "Tue, 05 Mar 2024 14:07:09 +0530".
    static std::string DateHeaderValue(std::time_t when);

    // The wire form of a body: every line break CR LF, every line that begins
    // with "." stuffed with one more.
    static std::string WireBody(const std::string& body);

private:
    // One exchange: send command (when not empty; it ends with CR LF) and read
    // the whole reply. Returns the reply code, -2 when the connection failed,
    // -3 for a last line that is not a three-digit code. A secret command (the
    // credentials) is never written to the log.
    int Command(const std::string& command, bool secret = false);
    bool Authenticate();
    bool SendRaw(const std::string& data);
    void LogReply();
    void Reset();
    // A transaction command answered `code`, not the reply it wanted: kConnectionLost when no
    // reply came, else the reply is logged, the transaction reset and `refused` returned.
    int Refused(int code, int refused);

    CMailSettings m_settings;
    CLogWriter& m_log;
    std::unique_ptr<CSocketConn> m_conn;
    std::string m_strReply;  // every line of the last reply, each with CR LF
    std::function<std::time_t()> m_clock;
    std::vector<CRefusal> m_refusals;
};
