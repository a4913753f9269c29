#pragma once

#include <string>

// What the debugger tells the studio's window. Called on the interpreter's or a serving
// thread; an implementation hands the call on to its own thread and returns at once. Debug
// text reaches the window through the log writer's sink, not through here.
class CDebugFrontEnd {
public:
    virtual ~CDebugFrontEnd() = default;

    // A run has attached to the debugger.
    virtual void OnAttached() = 0;
    // The run paused at the 1-based `line` of the file at `path`.
    virtual void OnBreak(int line, const std::string& path) = 0;
    // A run failed at byte `offset` of the file at `path`.
    virtual void OnShowError(int offset, const std::string& path) = 0;
    // HTTP traffic of the debugging web server (the Request/Response pane).
    virtual void OnHttpText(const std::string& text) = 0;
};
