// Fixtures shared by the mail tests: a temporary root folder, a log that
// keeps its entries, a scripted SMTP peer and a real SMTP server (aiosmtpd),
// all on 127.0.0.1.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/LogSink.h"
#include "engine/foundation/LogWriter.h"

namespace mailtest {

// A fresh folder under /tmp, removed with everything in it.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A CLogWriter whose entries are kept in memory.
class CapturedLog {
public:
    CapturedLog();
    CLogWriter& Writer() { return m_writer; }
    std::vector<std::string> Entries() const;
    std::string All() const;
    // True when some entry contains text.
    bool Contains(const std::string& text) const;
    int Count(const std::string& text) const;

private:
    class Sink : public CLogSink {
    public:
        bool Deliver(const std::string& text) override;
        mutable std::mutex m_mutex;
        std::vector<std::string> m_entries;
    };
    std::shared_ptr<Sink> m_sink;
    CLogWriter m_writer;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// File names of a folder (no "." and ".."), sorted.
std::vector<std::string> ListFolder(const std::string& folder);
bool Exists(const std::string& path);

// One step of a scripted SMTP peer: wait for a line that starts with expect
// (empty: no wait, e.g. the greeting), then send reply (may hold several
// lines; empty: send nothing). After a line "DATA" is answered the peer reads
// the data up to CR LF "." CR LF before the next step.
struct SmtpStep {
    std::string m_expect;
    std::string m_reply;
};

// A one-connection SMTP peer on 127.0.0.1 that follows its steps, then keeps
// answering "250 OK" (and closes after QUIT). Records what the client sent.
class ScriptedSmtp {
public:
    explicit ScriptedSmtp(std::vector<SmtpStep> steps, bool silent = false);
    ~ScriptedSmtp();
    int Port() const { return m_port; }
    // Waits until the connection ended (at most 15 s: a client that never
    // connects must not hang the test), then gives every command line (no CR LF).
    std::vector<std::string> Lines();
    // The raw data of each DATA exchange, up to and including CR LF "." CR LF.
    std::vector<std::string> Data();
    // Lines that did not start with the step's expectation.
    std::vector<std::string> Unexpected();

private:
    void Serve();
    // Waits (boundedly) for the connection to end, then stops the peer.
    void Finish();
    std::vector<SmtpStep> m_steps;
    bool m_bSilent;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bDone{false};
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_data;
    std::vector<std::string> m_unexpected;
    std::thread m_thread;
};

// aiosmtpd on 127.0.0.1, storing messages in a folder (see smtp_sink.py).
class SmtpSink {
public:
    struct Message {
        std::string m_from;
        std::vector<std::string> m_to;
        std::string m_auth;
        std::string m_data;
    };
    // Empty user: no authentication offered. noLogin: only AUTH PLAIN offered.
    explicit SmtpSink(const std::string& user = "", const std::string& password = "",
                      bool noLogin = false);
    ~SmtpSink();
    bool Started() const { return m_port > 0; }
    int Port() const { return m_port; }
    // Messages received so far, in order.
    std::vector<Message> Messages() const;

private:
    TempRoot m_folder;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
};

// A port on 127.0.0.1 that nobody listens on (bound, then closed).
int UnusedPort();

}  // namespace mailtest
