#include "engine/data/SqlInjectionGuard.h"

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"

namespace {

bool Forbidden(const std::string& word) {
    static const char* const kCommands[] = {"update", "delete", "insert", "create", "drop", "exec"};
    for (const char* c : kCommands) {
        if (word == c) {
            return true;
        }
    }
    return word.find("--") != std::string::npos || word.find(';') != std::string::npos;
}

}  // namespace

bool LooksLikeSqlInjection(const std::string& sql) {
    const std::string text = AsciiLowerCopy(sql);
    size_t i = 0;
    while (i < text.size() && IsSpaceTabOrLineBreak(text[i])) {
        ++i;
    }
    while (i < text.size() && !IsSpaceTabOrLineBreak(text[i])) {
        ++i;
    }
    std::string word;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (IsSpaceTabOrLineBreak(c)) {
            if (!word.empty() && Forbidden(word)) {
                return true;
            }
            word.clear();
        } else if (c == '\'') {
            size_t close = text.find('\'', i + 1);
            if (close == std::string::npos) {
                return false;
            }
            i = close;
        } else {
            word += c;
        }
    }
    return false;
}
