// POP3 peers for the incoming-mail tests, both on 127.0.0.1: a scripted
// one-connection peer, and Debian's dovecot with a passwd-file and a
// temporary maildir.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/mail/tests/MailTestSupport.h"

namespace pop3test {

// One step: wait for a command line that starts with m_expect (empty: no
// wait, as for the greeting), then send m_reply as it stands (may be empty).
struct Pop3Step {
    std::string m_expect;
    std::string m_reply;
};

// Follows its steps on one connection, then answers "+OK" to every command
// and closes after QUIT. With closeAfterSteps it closes as soon as the steps
// are done.
class ScriptedPop3 {
public:
    explicit ScriptedPop3(std::vector<Pop3Step> steps, bool closeAfterSteps = false);
    ~ScriptedPop3();
    int Port() const { return m_port; }
    // Waits (at most 15 s) for the connection to end; every command line, no CR LF.
    std::vector<std::string> Lines();
    // True when some command line starts with prefix.
    bool Received(const std::string& prefix);

private:
    void Serve();
    std::vector<Pop3Step> m_steps;
    bool m_bCloseAfterSteps;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_bDone{false};
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::thread m_thread;
};

// dovecot serving one account (user "tu", password "secret") over plain POP3.
class DovecotServer {
public:
    DovecotServer();
    ~DovecotServer();  // stops the server
    // Puts a message into the maildir; call before Start.
    void AddMessage(const std::string& bytes);
    // Starts dovecot and waits until it accepts connections.
    bool Start();
    int Port() const { return m_port; }
    // Messages still in the maildir.
    int MessageCount() const;
    std::string LogText() const;

private:
    mailtest::TempRoot m_folder;
    std::string m_maildir;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_nextName = 0;
};

// A port on 127.0.0.1 that was free a moment ago.
int FreePort();

}  // namespace pop3test
