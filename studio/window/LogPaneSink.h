// The log writer's window sink: entries from any thread are queued and appended to the Debug
// pane on its own thread, a burst at a time, so a flood of lines neither stalls the window nor
// makes the logging thread wait.
#pragma once

#include <QPointer>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/foundation/LogSink.h"
#include "studio/window/OutputEdit.h"

class CLogPaneSink : public CLogSink, public std::enable_shared_from_this<CLogPaneSink> {
public:
    explicit CLogPaneSink(COutputEdit* pane) : m_pane(pane) {}

    // Always accepts: a refusal would make the logging thread sleep.
    bool Deliver(const std::string& text) override;
    // Appends what has queued up (the pane's thread).
    void Flush();
    // Lets go of the pane before it goes; later entries are dropped.
    void Detach();

private:
    std::mutex m_lock;  // guards m_pane (read from other threads) and m_pending
    QPointer<COutputEdit> m_pane;
    std::vector<std::string> m_pending;
};
