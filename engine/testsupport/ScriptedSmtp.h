// A one-connection SMTP peer on 127.0.0.1 that follows its steps, then keeps answering
// "250 OK" (and closes after QUIT). Records what the client sent.
#pragma once

#include <string>
#include <vector>

#include "engine/testsupport/LoopbackPeer.h"

// One step: wait for a line that starts with m_expect (empty: no wait, as for the
// greeting), then send m_reply (may hold several lines; empty: send nothing). After a line
// "DATA" is answered with 354 the peer reads the data up to CR LF "." CR LF first.
struct CSmtpStep {
    std::string m_expect;
    std::string m_reply;
};

class CScriptedSmtp : public CLoopbackPeer {
public:
    // silent: answers nothing at all, only records.
    explicit CScriptedSmtp(std::vector<CSmtpStep> steps, bool silent = false);
    ~CScriptedSmtp() override;

    // The raw data of each DATA exchange, up to and including CR LF "." CR LF; waits for the
    // connection to end.
    std::vector<std::string> Data();
    // Lines that did not start with their step's expectation.
    std::vector<std::string> Unexpected();

private:
    void Serve() override;
    bool ReadData();

    std::vector<CSmtpStep> m_steps;
    bool m_bSilent;
    std::vector<std::string> m_data;
    std::vector<std::string> m_unexpected;
};
