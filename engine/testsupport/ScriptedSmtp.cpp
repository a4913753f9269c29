#include "engine/testsupport/ScriptedSmtp.h"

CScriptedSmtp::CScriptedSmtp(std::vector<CSmtpStep> steps, bool silent)
    : m_steps(std::move(steps)), m_bSilent(silent) {
    Start();
}

CScriptedSmtp::~CScriptedSmtp() {
    Stop();
}

std::vector<std::string> CScriptedSmtp::Data() {
    Finish();
    std::lock_guard lock(m_mutex);
    return m_data;
}

std::vector<std::string> CScriptedSmtp::Unexpected() {
    Finish();
    std::lock_guard lock(m_mutex);
    return m_unexpected;
}

bool CScriptedSmtp::ReadData() {
    std::string data;
    if (!ReadThrough("\r\n.\r\n", data)) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_data.push_back(data);
    return true;
}

void CScriptedSmtp::Serve() {
    if (!Accept()) {
        return;
    }
    std::string line;
    if (m_bSilent) {
        while (ReadLine(line)) {
        }
        return;
    }
    for (const CSmtpStep& step : m_steps) {
        if (!step.m_expect.empty()) {
            if (!ReadLine(line)) {
                return;
            }
            if (!line.starts_with(step.m_expect)) {
                std::lock_guard lock(m_mutex);
                m_unexpected.push_back(line);
            }
        }
        Send(step.m_reply);
        if (line == "DATA" && step.m_reply.starts_with("354")) {
            line.clear();
            if (!ReadData()) {
                return;
            }
        }
    }
    while (ReadLine(line)) {
        if (line == "QUIT") {
            Send("221 bye\r\n");
            return;
        }
        if (line == "DATA") {
            Send("354 go on\r\n");
            if (!ReadData()) {
                return;
            }
        }
        Send("250 OK\r\n");
    }
}
