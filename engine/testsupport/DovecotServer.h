// Debian's dovecot serving one account (user "tu", password "secret") over plain POP3 on
// 127.0.0.1, with a temporary maildir.
#pragma once

#include <string>

#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/TempFolder.h"

class CDovecotServer {
public:
    CDovecotServer();
    ~CDovecotServer();  // stops the server
    CDovecotServer(const CDovecotServer&) = delete;
    CDovecotServer& operator=(const CDovecotServer&) = delete;

    // Puts a message into the maildir; call before Start.
    void AddMessage(const std::string& bytes);
    // Starts dovecot and waits until it accepts connections.
    bool Start();
    int Port() const { return m_port; }
    // Messages still in the maildir.
    int MessageCount() const;
    std::string LogText() const;

private:
    CTempFolder m_folder;
    std::string m_maildir;
    CChildProcess m_dovecot;
    int m_port = 0;
    int m_nextName = 0;
};
