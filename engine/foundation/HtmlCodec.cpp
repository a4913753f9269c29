#include "engine/foundation/HtmlCodec.h"

#include <new>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

namespace {

// Extra characters each byte needs; CR is counted separately, as it never starts a rewrite.
std::size_t Growth(char ch, bool newlines) {
    switch (ch) {
        case '&':
            return 4;
        case '<':
        case '>':
            return 3;
        case '"':
            return 5;
        case '\n':
            return newlines ? 5 : 0;
        default:
            return 0;
    }
}

}  // namespace

void HtmlEscape(std::string& text, bool newlines) {
    std::size_t growth = 0;
    std::size_t carriageReturns = 0;
    for (const char ch : text) {
        growth += Growth(ch, newlines);
        carriageReturns += ch == '\r' ? 1 : 0;
    }
    if (growth == 0) {
        return;
    }
    std::string out;
    try {
        out.reserve(text.size() + growth - (newlines ? carriageReturns : 0));
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_outOfMemory, nullptr);
    }
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\r':
                if (!newlines) {
                    out += ch;
                }
                break;
            case '\n':
                if (newlines) {
                    out += "<br>\r\n";
                } else {
                    out += ch;
                }
                break;
            default:
                out += ch;
                break;
        }
    }
    text.swap(out);
}
