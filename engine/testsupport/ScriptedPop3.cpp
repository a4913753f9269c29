#include "engine/testsupport/ScriptedPop3.h"

CScriptedPop3::CScriptedPop3(std::vector<CPop3Step> steps, bool closeAfterSteps)
    : m_steps(std::move(steps)), m_bCloseAfterSteps(closeAfterSteps) {
    Start();
}

CScriptedPop3::~CScriptedPop3() {
    Finish();
}

void CScriptedPop3::Serve() {
    if (!Accept()) {
        return;
    }
    std::string line;
    for (const CPop3Step& step : m_steps) {
        if (!step.m_expect.empty() && !ReadLine(line)) {
            return;
        }
        if (!step.m_reply.empty() && !Send(step.m_reply)) {
            return;
        }
    }
    while (!m_bCloseAfterSteps && ReadLine(line)) {
        Send("+OK\r\n");
        if (line == "QUIT") {
            return;
        }
    }
}
