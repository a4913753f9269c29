// The POP3 client of email_in: one plain session that empties a mailbox into
// the mail spool (<root>/mail/<mailbox>/*.eml), deleting on the server only
// what has been stored whole. Not thread-safe; one client serves one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CLogWriter;
class CServerSettings;
class CSocketConn;

struct CPop3Settings {
    int m_nTimeout = 30;  // seconds per wait for the server
    bool m_bLog = false;  // log commands and replies (never the password)
};

// The POP3 settings of a loaded server settings object.
CPop3Settings Pop3SettingsFrom(const CServerSettings& settings);

class CPop3Client {
public:
    // Reply lines are kept up to this many bytes; the rest of a longer line is
    // read and dropped.
    static constexpr size_t kReplyLineMax = 256;
    // Message lines are written in pieces of at most this many bytes.
    static constexpr size_t kMessageLineMax = 1024;

    CPop3Client(const std::string& root, const CPop3Settings& settings, CLogWriter& log);
    virtual ~CPop3Client();  // closes the connection
    CPop3Client(const CPop3Client&) = delete;
    CPop3Client& operator=(const CPop3Client&) = delete;

    // One whole session: log on, list, retrieve every message into a new
    // ".eml" file of the mailbox folder and mark it deleted once the file is
    // safely on disk, then QUIT. An empty port means "110". Returns the number
    // of messages stored, or -1 when the session could not connect, log on or
    // list. A user name or password holding CR or LF is refused (-1) before
    // anything is sent.
    int FetchAll(const std::string& host, const std::string& port, const std::string& user,
                 const std::string& password, const std::string& mailbox);

    // Stores the message that follows a positive RETR reply. True when the
    // message was stored whole and its file is closed and synced; otherwise no
    // file is left behind.
    bool ReceiveMail(const std::string& mailbox);

private:
    bool SendCommand(const std::string& command, bool secret = false);
    // One reply line, cut at kReplyLineMax; false (and empty) when nothing came.
    bool ReadReply(std::string& line);
    // Up to max bytes of the current line into out; ended tells whether the
    // line's CR LF was reached. A lone CR or LF is data. False on time-out or
    // a closed connection.
    bool ReadPiece(std::string& out, size_t max, bool& ended);
    bool Fill();
    void Quit();

    std::string m_strRoot;
    CPop3Settings m_settings;
    CLogWriter& m_log;
    std::unique_ptr<CSocketConn> m_conn;
    std::string m_buffer;  // bytes received, not yet taken from m_nPos on
    size_t m_nPos = 0;
};
