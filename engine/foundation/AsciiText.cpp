#include "engine/foundation/AsciiText.h"

std::string AsciiLowerCopy(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = AsciiLower(c);
    }
    return lower;
}

std::string AsciiUpperCopy(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = AsciiUpper(c);
    }
    return upper;
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiStartsWithNoCase(a, b);
}

bool AsciiStartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::string DoubledChar(std::string_view text, char ch) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == ch) {
            out += ch;
        }
    }
    return out;
}
