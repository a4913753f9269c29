// A one-connection POP3 peer on 127.0.0.1 that follows its steps, then answers "+OK" to
// every command and closes after QUIT. With closeAfterSteps it closes as soon as the steps
// are done.
#pragma once

#include <string>
#include <vector>

#include "engine/testsupport/LoopbackPeer.h"

// One step: wait for a command line that starts with m_expect (empty: no wait, as for the
// greeting), then send m_reply as it stands (may be empty).
struct CPop3Step {
    std::string m_expect;
    std::string m_reply;
};

class CScriptedPop3 : public CLoopbackPeer {
public:
    explicit CScriptedPop3(std::vector<CPop3Step> steps, bool closeAfterSteps = false);
    ~CScriptedPop3() override;

private:
    void Serve() override;

    std::vector<CPop3Step> m_steps;
    bool m_bCloseAfterSteps;
};
