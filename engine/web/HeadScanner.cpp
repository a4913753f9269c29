#include "engine/web/HeadScanner.h"

#include "engine/web/ConsoleCommandHandler.h"

bool CHeadScanner::Feed(std::string_view bytes) {
    for (char c : bytes) {
        if (m_complete) {
            break;
        }
        if (m_afterCr) {
            m_afterCr = false;
            if (c == '\n') {
                EndLine();
            }
            continue;  // CR and the byte after it are dropped
        }
        if (c == '\r') {
            m_afterCr = true;
            continue;
        }
        ++m_stored;
        if (m_firstLine && !m_methodDone) {
            if (c != ' ') {
                m_method += c;
            } else if (!m_method.empty()) {
                m_methodDone = true;
            }
        }
    }
    return m_complete;
}

void CHeadScanner::EndLine() {
    if (m_stored == 0 || (m_firstLine && CConsoleCommandHandler::IsCommand(m_method))) {
        m_complete = true;
    }
    m_firstLine = false;
    m_stored = 0;
    m_method.clear();
    m_method.shrink_to_fit();
}
