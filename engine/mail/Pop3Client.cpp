#include "engine/mail/Pop3Client.h"

#include <cstdlib>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/mail/MailSpool.h"
#include "engine/settings/ServerSettings.h"

namespace {

bool IsPositive(const std::string& line) {
    return line.compare(0, 3, "+OK") == 0;
}

bool HoldsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

CPop3Settings Pop3SettingsFrom(const CServerSettings& settings) {
    CPop3Settings out;
    out.m_nTimeout = settings.Pop3Timeout;
    out.m_bLog = settings.LogPop3;
    return out;
}

CPop3Client::CPop3Client(const std::string& root, const CPop3Settings& settings, CLogWriter& log)
    : m_strRoot(root), m_settings(settings), m_log(log), m_conn(std::make_unique<CSocketConn>()) {}

CPop3Client::~CPop3Client() = default;

bool CPop3Client::SendCommand(const std::string& command, bool secret) {
    if (m_settings.m_bLog) {
        // The password never reaches the log.
        m_log.LogText(secret ? std::string("PASS ********\r\n") : command);
    }
    return m_conn->Send(command);
}

bool CPop3Client::Fill() {
    if (m_nPos > 0) {
        m_buffer.erase(0, m_nPos);
        m_nPos = 0;
    }
    char chunk[CSocketConn::kReadAheadSize];
    long got = m_conn->Receive(chunk, sizeof chunk);
    if (got <= 0) {
        return false;
    }
    m_buffer.append(chunk, static_cast<size_t>(got));
    return true;
}

bool CPop3Client::ReadPiece(std::string& out, size_t max, bool& ended) {
    out.clear();
    ended = false;
    for (;;) {
        if (m_nPos == m_buffer.size() && !Fill()) {
            return false;
        }
        char c = m_buffer[m_nPos];
        if (c == '\r') {
            // A CR at the end of what has arrived may still be half of the line end.
            if (m_nPos + 1 == m_buffer.size() && !Fill()) {
                return false;
            }
            if (m_buffer[m_nPos + 1] == '\n') {
                m_nPos += 2;
                ended = true;
                return true;
            }
        }
        if (out.size() >= max) {
            return true;
        }
        out.push_back(c);
        ++m_nPos;
    }
}

bool CPop3Client::ReadReply(std::string& line) {
    bool ended = false;
    if (!ReadPiece(line, kReplyLineMax, ended)) {
        line.clear();
        return false;
    }
    // An over-long reply is read to its end, so the next reply starts in step.
    std::string rest;
    while (!ended) {
        if (!ReadPiece(rest, kReplyLineMax, ended)) {
            break;
        }
    }
    if (m_settings.m_bLog) {
        m_log.LogText(line + "\r\n");
    }
    return !line.empty();
}

void CPop3Client::Quit() {
    if (SendCommand("QUIT\r\n")) {
        std::string line;
        ReadReply(line);
    }
    m_conn->Close();
}

int CPop3Client::FetchAll(const std::string& host, const std::string& port, const std::string& user,
                          const std::string& password, const std::string& mailbox) {
    std::string portText = port.empty() ? "110" : port;
    if (HoldsLineBreak(user) || HoldsLineBreak(password)) {
        // A line break would end the command early and let the rest run as another.
        m_log.Log("Refused POP3 user name or password with a line break");
        return -1;
    }
    if (m_settings.m_bLog) {
        m_log.Log("Connecting to %s:%s", host.c_str(), portText.c_str());
    }
    m_buffer.clear();
    m_nPos = 0;
    int timeout = m_settings.m_nTimeout > 0 ? m_settings.m_nTimeout : 30;
    m_conn->SetTimeout(timeout);
    char* end = nullptr;
    long portNumber = std::strtol(portText.c_str(), &end, 10);
    if (end == portText.c_str() || portNumber <= 0 || portNumber > 65535 ||
        !m_conn->Connect(host, static_cast<int>(portNumber))) {
        m_log.Log("Failed to connect to POP3 server %s:%s", host.c_str(), portText.c_str());
        return -1;
    }
    m_conn->SetTimeout(timeout);

    std::string line;
    ReadReply(line);
    if (!IsPositive(line)) {
        m_log.Log("POP3 server not ready (%s)", line.c_str());
        m_conn->Close();
        return -1;
    }

    SendCommand("USER " + user + "\r\n");
    ReadReply(line);
    if (!IsPositive(line)) {
        m_log.Log("Wrong email account user name (%s)", line.c_str());
        Quit();
        return -1;
    }
    SendCommand("PASS " + password + "\r\n", true);
    ReadReply(line);
    if (!IsPositive(line)) {
        m_log.Log("Wrong email account password (%s)", line.c_str());
        Quit();
        return -1;
    }

    SendCommand("LIST\r\n");
    ReadReply(line);
    if (!IsPositive(line)) {
        m_log.Log("%s", line.c_str());
        Quit();
        return -1;
    }
    int count = 0;
    while (ReadReply(line) && line != "." && line.compare(0, 2, "0 ") != 0) {
        ++count;
    }

    int stored = 0;
    for (int i = 1; i <= count; ++i) {
        if (!SendCommand("RETR " + std::to_string(i) + "\r\n")) {
            break;
        }
        bool gotLine = false;
        while ((gotLine = ReadReply(line))) {
            if (IsPositive(line) || line.compare(0, 4, "-ERR") == 0) {
                break;
            }
        }
        if (!gotLine || !IsPositive(line)) {
            m_log.Log("%s", line.c_str());
            break;
        }
        if (!ReceiveMail(mailbox)) {
            break;
        }
        ++stored;
        // The file is closed and synced by now, so the message may go.
        SendCommand("DELE " + std::to_string(i) + "\r\n");
        ReadReply(line);
        if (!IsPositive(line)) {
            m_log.Log("%s", line.c_str());
            break;
        }
    }
    Quit();
    return stored;
}

bool CPop3Client::ReceiveMail(const std::string& mailbox) {
    CNewMailFile file;
    if (!file.Open(m_strRoot, mailbox, "eml", m_log)) {
        return false;
    }
    std::string piece;
    bool atLineStart = true;
    for (;;) {
        bool ended = false;
        if (!ReadPiece(piece, kMessageLineMax, ended)) {
            m_log.Log("Failed to receive a complete mail from POP3");
            file.Abandon();
            return false;
        }
        // The terminator and the stuffing exist only at the start of a line.
        if (atLineStart && ended && piece == ".") {
            break;
        }
        size_t skip = (atLineStart && piece.compare(0, 2, "..") == 0) ? 1 : 0;
        file.Write(piece.data() + skip, piece.size() - skip);
        if (ended) {
            file.Write("\r\n", 2);
        }
        atLineStart = ended;
    }
    if (!file.Commit(m_log)) {
        m_log.Log("Failed to write a complete mail to file");
        return false;
    }
    return true;
}
