#include "engine/web/HeadScanner.h"

#include <algorithm>

#include "engine/foundation/AsciiText.h"
#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/HttpRequest.h"

namespace {

// Enough of a line for its first word, or for a header name and a length.
constexpr size_t kKeptChars = 256;

std::string_view FirstWord(std::string_view text, std::string_view delimiters) {
    size_t start = text.find_first_not_of(delimiters);
    if (start == std::string_view::npos) {
        return {};
    }
    size_t end = text.find_first_of(delimiters, start);
    return text.substr(start, end == std::string_view::npos ? end : end - start);
}

// Digits only and at most 18 of them, as the reader accepts a length; else -1.
int64_t ParseLength(std::string_view word) {
    if (word.empty() || word.size() > 18) {
        return -1;
    }
    int64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

bool CHeadScanner::Feed(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size() && !m_complete) {
        if (m_afterCr) {
            m_afterCr = false;
            ++m_consumed;
            if (bytes[i++] == '\n') {
                EndLine();
            }
            continue;  // CR and the byte after it are dropped
        }
        // The bytes up to the next CR belong to the line as they are.
        const size_t cr = bytes.find('\r', i);
        const size_t run = (cr == std::string_view::npos ? bytes.size() : cr) - i;
        m_consumed += run;
        m_stored += run;
        if (!m_holdsNul && bytes.substr(i, run).find('\0') != std::string_view::npos) {
            m_holdsNul = true;
        }
        if (m_line.size() < kKeptChars) {
            m_line.append(bytes.substr(i, std::min(run, kKeptChars - m_line.size())));
        }
        i += run;
        if (i < bytes.size()) {
            m_afterCr = true;
            ++m_consumed;
            ++i;
        }
    }
    return m_complete;
}

int64_t CHeadScanner::PostBodyLength() const {
    return m_post && !m_holdsNul ? m_contentLength : -1;
}

void CHeadScanner::EndLine() {
    std::string_view line(m_line);
    if (m_firstLine) {
        std::string_view method = FirstWord(line, " ");
        // A request line longer than the reader's line is the reader's to refuse at once.
        m_complete =
            m_stored == 0 || m_stored >= CHttpRequest::kLineSize ||
            (m_stored == m_line.size() && CConsoleCommandHandler::IsCommand(std::string(method)));
        m_post = AsciiEqualNoCase(method, "POST");
        m_firstLine = false;
    } else if (m_stored == 0) {
        m_complete = true;
    } else {
        size_t nameEnd = line.find_first_of(" :;");
        if (nameEnd != std::string_view::npos &&
            AsciiEqualNoCase(line.substr(0, nameEnd), "Content-Length")) {
            std::string_view rest = line.substr(nameEnd);
            size_t start = rest.find_first_not_of(": ");
            rest = start == std::string_view::npos ? std::string_view() : rest.substr(start);
            m_contentLength = m_stored == m_line.size() ? ParseLength(FirstWord(rest, " ;")) : -1;
        }
    }
    m_stored = 0;
    m_line.clear();
}
