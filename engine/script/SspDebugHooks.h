#pragma once

#include <atomic>
#include <string_view>

class CSspInterpreter;

// Where a debugger meets a run. The server installs none, so a run pays one pointer test per
// statement and per stretch of literal text; the studio installs its controller before it
// starts its own server or script thread, and removes it only when no run is left.
//
// Every hook is called on the interpreter's own thread, which the hook may block (a pause)
// until the user resumes it. While a debugger is installed, literal text is cut after every
// line feed so that BeforeLiteralText runs once per line.
class CSspDebugHooks {
public:
    virtual ~CSspDebugHooks() = default;

    // A run (top-level or a called function's) has bound to its file. May wait while another
    // thread's run is attached.
    virtual void AttachInterpreter(CSspInterpreter& interp) = 0;
    // The run is letting go of its file: its error text and offset are final.
    virtual void DetachInterpreter(CSspInterpreter& interp) = 0;
    // Before each statement, the position at the statement's first token. True ends the run
    // as stopped (result 3) without running the statement.
    virtual bool BeforeStatement(CSspInterpreter& interp) = 0;
    // Before each line of literal text, the position at its start. True ends the run as
    // stopped (result 3).
    virtual bool BeforeLiteralText(CSspInterpreter& interp) = 0;
    // HTTP traffic that passes: request headers, written page text, response headers. From
    // any serving thread, never while the caller holds a lock of its own.
    virtual void EchoHttpText(std::string_view text) { (void)text; }

    // EchoHttpText on the installed hooks; nothing without them.
    static void Echo(std::string_view text) {
        if (CSspDebugHooks* hooks = Current()) {
            hooks->EchoHttpText(text);
        }
    }

    // The installed hooks, or nullptr.
    static CSspDebugHooks* Current() { return s_pCurrent.load(std::memory_order_acquire); }
    // Installs `hooks` (nullptr removes them). Runs that are under way keep whatever they
    // saw when they bound to their file.
    static void Install(CSspDebugHooks* hooks) {
        s_pCurrent.store(hooks, std::memory_order_release);
    }

private:
    static inline std::atomic<CSspDebugHooks*> s_pCurrent{nullptr};
};
