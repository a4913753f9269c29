#include "engine/foundation/AsciiSpace.h"

namespace {

std::string_view TrimRightIf(std::string_view text, bool (*blank)(char)) {
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view TrimIf(std::string_view text, bool (*blank)(char)) {
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    return TrimRightIf(text, blank);
}

}  // namespace

std::string_view TrimSpaceOrTab(std::string_view text) {
    return TrimIf(text, IsSpaceOrTab);
}

std::string_view TrimSpaceTabOrLineBreak(std::string_view text) {
    return TrimIf(text, IsSpaceTabOrLineBreak);
}

std::string_view TrimAsciiSpace(std::string_view text) {
    return TrimIf(text, IsAsciiSpace);
}

std::string_view TrimSpaceTabOrLineBreakRight(std::string_view text) {
    return TrimRightIf(text, IsSpaceTabOrLineBreak);
}

std::string_view TrimAsciiSpaceRight(std::string_view text) {
    return TrimRightIf(text, IsAsciiSpace);
}

std::string WithoutLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            out += c;
        }
    }
    return out;
}
