#include "engine/script/SspErrorLocation.h"

CSspErrorLocation LocateSspError(const char* begin, const char* end, const char* pos,
                                 const char* textEnd) {
    if (textEnd == nullptr || textEnd < end) {
        textEnd = end;
    }
    CSspErrorLocation loc;
    loc.m_line = 1;
    const char* lineStart = begin;
    for (const char* p = begin; p < pos; ++p) {
        if (*p == '\n') {
            ++loc.m_line;
            lineStart = p + 1;
        }
    }
    loc.m_column = static_cast<int>(pos - lineStart) + 1;
    const char* lineEnd = lineStart;
    while (lineEnd < textEnd && *lineEnd != '\r' && *lineEnd != '\n') {
        ++lineEnd;
    }
    loc.m_lineText.assign(lineStart, lineEnd);
    return loc;
}

std::string FormatSspError(const std::string& path, const char* begin, const char* end,
                           const char* pos, const std::string& message, bool escaped,
                           const char* textEnd) {
    if (pos == nullptr || begin == nullptr || pos < begin || pos > end) {
        return message;
    }
    CSspErrorLocation loc = LocateSspError(begin, end, pos, textEnd);
    // The text is shown through printf-style paths later, so a "%" must survive them.
    std::string doubled;
    doubled.reserve(message.size());
    for (char c : message) {
        doubled += c;
        if (c == '%' && !escaped) {
            doubled += '%';
        }
    }
    return path + " (" + std::to_string(loc.m_line) + "," + std::to_string(loc.m_column) +
           "): \r\n" + loc.m_lineText + "\r\n\r\n" + doubled;
}
