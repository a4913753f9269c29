#include "engine/web/ConsoleCommandHandler.h"

#include <atomic>

namespace {
std::atomic<CConsoleCommandHandler*> g_handler{nullptr};
}

CConsoleCommandHandler* CConsoleCommandHandler::Current() {
    return g_handler.load();
}

void CConsoleCommandHandler::Install(CConsoleCommandHandler* handler) {
    g_handler.store(handler);
}

bool CConsoleCommandHandler::IsCommand(const std::string& method) {
    return method.find(kPrefix) != std::string::npos;
}
