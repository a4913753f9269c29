#include "engine/script/DesktopOpener.h"

#include <mutex>
#include <utility>

#include "engine/script/ProcessRunner.h"

namespace {

std::mutex g_openerLock;
DesktopOpener g_opener;

bool RunXdgOpen(const std::string& target) {
    CRunOptions options;
    options.m_searchPath = true;
    options.m_newSession = true;
    // A wait of 0 returns at once; the child is reaped when it ends.
    return RunProgram("xdg-open", {target}, 0, options).m_kind != CRunOutcome::kNotStarted;
}

}  // namespace

bool OpenWithDesktop(const std::string& target) {
    DesktopOpener opener;
    {
        std::lock_guard<std::mutex> lock(g_openerLock);
        opener = g_opener;
    }
    return opener ? opener(target) : RunXdgOpen(target);
}

DesktopOpener SetDesktopOpener(DesktopOpener opener) {
    std::lock_guard<std::mutex> lock(g_openerLock);
    return std::exchange(g_opener, std::move(opener));
}
