// A real SMTP server (aiosmtpd, see smtp_sink.py) on 127.0.0.1, storing the messages it
// accepts in a temporary folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/UniqueFd.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/TempFolder.h"

class CSmtpSink {
public:
    struct Message {
        std::string m_from;
        std::vector<std::string> m_to;
        std::string m_auth;
        std::string m_data;
    };
    // Empty user: no authentication offered. noLogin: only AUTH PLAIN offered.
    explicit CSmtpSink(const std::string& user = "", const std::string& password = "",
                       bool noLogin = false);
    ~CSmtpSink();
    CSmtpSink(const CSmtpSink&) = delete;
    CSmtpSink& operator=(const CSmtpSink&) = delete;

    bool Started() const { return m_port > 0; }
    int Port() const { return m_port; }
    // Messages received so far, in order.
    std::vector<Message> Messages() const;

private:
    CTempFolder m_folder;
    CChildProcess m_sink;
    std::unique_ptr<CUniqueFd> m_stdin;  // closing it ends the server
    int m_port = 0;
};
