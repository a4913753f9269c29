#pragma once

#include <string>

// Where the log writer hands a finished entry when it does not write day files: the studio's
// output pane (window mode) or a dialog (message-box mode). The Qt programs implement it.
class CLogSink {
public:
    virtual ~CLogSink() = default;

    // Called from any thread that logs, never with the writer's lock held. The text is the
    // entry exactly as logged (no time stamp). Returns false when the entry could not be
    // handed over (a full queue); the writer then waits 100 ms and tries once more.
    virtual bool Deliver(const std::string& text) = 0;
};
