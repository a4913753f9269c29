#include "engine/mail/MailAddress.h"

#include <cstring>

std::vector<std::string> SplitAddresses(const std::string& text) {
    static const char kSeparators[] = ",; \"\r\n\t";
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = text.find_first_not_of(kSeparators, pos, sizeof kSeparators - 1);
        if (start == std::string::npos) {
            break;
        }
        size_t end = text.find_first_of(kSeparators, start, sizeof kSeparators - 1);
        if (end == std::string::npos) {
            end = text.size();
        }
        parts.push_back(text.substr(start, end - start));
        pos = end;
    }
    return parts;
}

std::string OneHeaderLine(std::string text) {
    for (char& ch : text) {
        if (ch == '\r' || ch == '\n') {
            ch = ' ';
        }
    }
    return text;
}
