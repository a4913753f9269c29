#include "engine/foundation/SystemError.h"

#include <cstdio>
#include <cstring>

namespace {

// Copes with both strerror_r flavours: GNU returns the text, XSI fills the buffer.
[[maybe_unused]] const char* ErrorText(char* result, const char* /*buffer*/) {
    return result;
}
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}

}  // namespace

std::string SystemErrorText(int code) {
    char buffer[256] = "";
    const char* text = ErrorText(strerror_r(code, buffer, sizeof buffer), buffer);
    return text == nullptr ? std::string() : std::string(text);
}

std::string FormatSystemError(int code) {
    const std::string text = SystemErrorText(code);
    if (text.empty()) {
        return "FormatMessage Failed";
    }
    char out[512];
    std::snprintf(out, sizeof out, "Error [%d]: %s\r\n", code, text.c_str());
    return out;
}
