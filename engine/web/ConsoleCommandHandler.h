// The server program's answer to console commands: a request line whose first word holds
// "Brackmoor." is a command for the server, not an HTTP request, and never reaches the page
// dispatcher. Until a handler is installed such a connection is closed without a reply.
#pragma once

#include <string>

class CServerThread;

class CConsoleCommandHandler {
public:
    // The mark a command's first word holds (case counts).
    static constexpr const char* kPrefix = "Brackmoor.";

    virtual ~CConsoleCommandHandler() = default;

    // Answers `command` (the first word of the request line) with `argument` (its second
    // word) on the thread's connection, which the thread closes afterwards. Runs on the
    // server thread that took the connection; many may run at once.
    virtual void HandleCommand(CServerThread& thread, const std::string& command,
                               const std::string& argument) = 0;

    // The installed handler, or nullptr. Install before the listeners start; `handler` must
    // outlive them (nullptr removes it).
    static CConsoleCommandHandler* Current();
    static void Install(CConsoleCommandHandler* handler);

    // Whether a request line's first word is a console command.
    static bool IsCommand(const std::string& method);
};
