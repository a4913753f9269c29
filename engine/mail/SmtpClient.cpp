#include "engine/mail/SmtpClient.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/mail/MailAddress.h"

namespace {

// Base64 on one line: credentials must not be broken across lines.
std::string Base64Line(const std::string& bytes) {
    std::string text;
    Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text);
    return WithoutLineBreaks(text);
}

std::string LocalHostName() {
    char name[65] = {};
    if (gethostname(name, 64) != 0) {
        return "localhost";
    }
    name[64] = '\0';
    return name;
}

}  // namespace

CSmtpClient::CSmtpClient(const CMailSettings& settings, CLogWriter& log)
    : m_settings(settings), m_log(log), m_conn(std::make_unique<CSocketConn>()) {}

CSmtpClient::~CSmtpClient() = default;

std::string CSmtpClient::DateHeaderValue(std::time_t when) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    localtime_r(&when, &local);
    long offset = local.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) {
        offset = -offset;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s, %.2d %s %.2d %.2d:%.2d:%.2d %c%02ld%02ld",
                  kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec, sign, offset / 60, offset % 60);
    return text;
}

std::string CSmtpClient::WireBody(const std::string& body) {
    std::string wire;
    wire.reserve(body.size() + body.size() / 16 + 4);
    bool lineStart = true;
    for (size_t i = 0; i < body.size(); ++i) {
        char ch = body[i];
        if (ch == '\r' || ch == '\n') {
            // CR LF, lone CR and lone LF all end a line the same way.
            if (ch == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
                ++i;
            }
            wire += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && ch == '.') {
            wire += '.';
        }
        wire += ch;
        lineStart = false;
    }
    return wire;
}

bool CSmtpClient::SendRaw(const std::string& data) {
    return m_conn->Send(data.data(), static_cast<long>(data.size()));
}

void CSmtpClient::LogReply() {
    m_log.LogText(m_strReply);
}

int CSmtpClient::Command(const std::string& command, bool secret) {
    m_strReply.clear();
    std::string what = "connect or data";
    if (secret) {
        what = "authentication";
    } else if (!command.empty()) {
        what = command.substr(0, command.size() - 2);  // without its CR LF
    }
    if (!command.empty()) {
        if (m_settings.m_bLogSmtp) {
            // Credentials never reach the log.
            m_log.LogText(secret ? std::string("******\r\n") : command);
        }
        if (!SendRaw(command)) {
            return kConnectionLost;
        }
    }
    char line[512];
    int length = 0;
    for (;;) {
        if (m_conn->ReadLine(line, sizeof line, &length) != CSocketConn::ELineRead::kLine) {
            m_log.Log("Your SMTP server is not responding to %s.", what.c_str());
            return kConnectionLost;
        }
        std::string text(line, static_cast<size_t>(length));
        if (m_settings.m_bLogSmtp) {
            m_log.LogText(text + "\r\n");
        }
        m_strReply += text + "\r\n";
        if (text.size() > 3 && text[3] == '-') {
            continue;
        }
        if (text.size() < 3) {
            return kRefused;
        }
        int code = 0;
        for (int i = 0; i < 3; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return kRefused;
            }
            code = code * 10 + (text[i] - '0');
        }
        return code;
    }
}

bool CSmtpClient::Connect(const std::string& host, const std::string& portText) {
    const std::string port = portText.empty() ? "25" : portText;
    if (m_settings.m_bLogSmtp) {
        m_log.Log("Connecting to %s:%s", host.c_str(), port.c_str());
    }
    m_conn->Close();
    m_conn->SetTimeout(m_settings.m_nSmtpTimeout);
    if (!m_conn->Connect(host, std::atoi(port.c_str()))) {
        return false;
    }
    if (!m_conn->SetTimeout(m_settings.m_nSmtpTimeout)) {
        return false;
    }
    int code = Command("");
    if (code != 220) {
        if (code != kConnectionLost) {
            LogReply();
        }
        return false;
    }
    const std::string hello = LocalHostName();
    if (!m_settings.m_strSmtpUserName.empty()) {
        code = Command("EHLO " + hello + "\r\n");
        if (code == 250) {
            Authenticate();
            return true;
        }
        if (code == kConnectionLost) {
            return false;
        }
        LogReply();
        m_log.Log(
            "Your SMTP server does not require authentication. Please clear the User name and "
            "password in Server Console, Server Settings, Email Page, Email Sender group.");
    }
    code = Command("HELO " + hello + "\r\n");
    if (code != 250) {
        if (code != kConnectionLost) {
            LogReply();
        }
        return false;
    }
    return true;
}

bool CSmtpClient::Authenticate() {
    const std::string& user = m_settings.m_strSmtpUserName;
    const std::string& password = m_settings.m_strSmtpPassword;
    int code = Command("AUTH LOGIN\r\n");
    if (code == 334) {
        code = Command(Base64Line(user) + "\r\n", true);
        if (code != 334) {
            LogReply();
            return false;
        }
        code = Command(Base64Line(password) + "\r\n", true);
    } else {
        if (code == kConnectionLost) {
            return false;
        }
        // PLAIN carries both credentials in one message: NUL user NUL password.
        code = Command("AUTH PLAIN\r\n");
        if (code != 334) {
            LogReply();
            return false;
        }
        code = Command(Base64Line(std::string(1, '\0') + user + '\0' + password) + "\r\n", true);
    }
    if (code != 235) {
        LogReply();
        return false;
    }
    return true;
}

void CSmtpClient::Reset() {
    Command("RSET\r\n");
}

int CSmtpClient::Refused(int code, int refused) {
    if (code == kConnectionLost) {
        return kConnectionLost;
    }
    LogReply();
    Reset();
    return refused;
}

int CSmtpClient::SendMail(const std::string& from, const std::string& to, const std::string& cc,
                          const std::string& bcc, const std::string& subject,
                          const std::vector<std::string>& headerLines, const std::string& body) {
    m_refusals.clear();
    if (to.empty()) {
        m_log.Log("Attemping to send [%s] without receipient", subject.c_str());
        return kNoRecipient;
    }
    const CMailAddressList senders = ParseMailAddresses(from);
    if (senders.m_addresses.empty() || !senders.m_bad.empty()) {
        const std::string what = senders.m_bad.empty() ? from : senders.m_bad.front();
        m_refusals.push_back({what, "The sender is not an email address."});
        return kUndeliverable;
    }
    const CMailAddress& sender = senders.m_addresses.front();
    const CMailAddressList toList = ParseMailAddresses(to);
    const CMailAddressList ccList = ParseMailAddresses(cc);
    std::vector<CMailAddress> recipients = toList.m_addresses;
    recipients.insert(recipients.end(), ccList.m_addresses.begin(), ccList.m_addresses.end());
    const CMailAddressList bccList = ParseMailAddresses(bcc);
    recipients.insert(recipients.end(), bccList.m_addresses.begin(), bccList.m_addresses.end());
    for (const CMailAddressList* list : {&toList, &ccList, &bccList}) {
        for (const std::string& bad : list->m_bad) {
            m_refusals.push_back({bad, "Not an email address."});
        }
    }
    if (recipients.empty()) {
        if (m_refusals.empty()) {
            m_log.Log("Attemping to send [%s] without receipient", subject.c_str());
            return kNoRecipient;
        }
        return kUndeliverable;
    }
    int code = Command("MAIL From: <" + sender.m_strAddress + ">\r\n");
    if (code != 250) {
        return Refused(code, code == 505 ? kSender505 : kRefused);
    }
    size_t accepted = 0;
    for (const CMailAddress& recipient : recipients) {
        code = Command("RCPT To: <" + recipient.m_strAddress + ">\r\n");
        if (code == 250 || code == 251) {
            ++accepted;
        } else if (code >= 500 && code <= 599) {
            // Refused for good: the others still get the message.
            LogReply();
            m_refusals.push_back(
                {recipient.m_strAddress, std::string(TrimSpaceTabOrLineBreakRight(m_strReply))});
        } else {
            return Refused(code, kRefused);
        }
    }
    if (accepted == 0) {
        Reset();
        return kUndeliverable;
    }
    code = Command("DATA\r\n");
    if (code != 354) {
        return Refused(code, kRefused);
    }
    m_conn->DrainInput();
    if (m_settings.m_bLogSmtp) {
        m_log.Log("Sending data");
    }
    std::string head =
        "Date: " + DateHeaderValue(m_clock ? m_clock() : std::time(nullptr)) + "\r\n";
    head +=
        "From: " +
        (sender.m_strName.empty() ? "<" + sender.m_strAddress + ">" : AddressForHeader(sender)) +
        "\r\n";
    head += "To: " + AddressListForHeader(toList.m_addresses, 4) + "\r\n";
    if (!ccList.m_addresses.empty()) {
        head += "Cc: " + AddressListForHeader(ccList.m_addresses, 4) + "\r\n";
    }
    head += "Subject: " + OneHeaderLine(subject) + "\r\n";
    head += "X-Mailer: <Velmorin Server Mailer 2>\r\n";
    for (const std::string& line : headerLines) {
        std::string one = OneHeaderLine(line);
        if (!one.empty()) {
            head += one + "\r\n";
        }
    }
    head += "\r\n";
    // One send for the whole message: a second small write would wait for the
    // server's delayed acknowledgement.
    if (!SendRaw(head + WireBody(body) + "\r\n.\r\n")) {
        m_log.Log("Failed to send data");
        return kConnectionLost;
    }
    code = Command("");
    if (code != 250) {
        return Refused(code, kRefused);
    }
    return kSent;
}

void CSmtpClient::Disconnect() {
    if (m_conn->IsOpen()) {
        Command("QUIT\r\n");
    }
    m_conn->Close();
}
