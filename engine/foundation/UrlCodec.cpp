#include "engine/foundation/UrlCodec.h"

char HexPairToByte(std::string_view pair) {
    if (pair.size() != 2) {
        return '?';
    }
    int value = 0;
    for (char c : pair) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        int digit = (c >= '0' && c <= '9') ? c - '0' : static_cast<unsigned char>(c) - 55;
        value = value * 16 + digit;
    }
    return static_cast<char>(value);
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string ByteToHex(unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 15]};
}

std::string UrlDecode(std::string_view text) {
    std::string plus(text);
    for (char& c : plus) {
        if (c == '+') {
            c = ' ';
        }
    }
    std::string out;
    out.reserve(plus.size());
    for (size_t i = 0; i < plus.size(); ++i) {
        if (plus[i] == '%' && plus.size() - i > 2) {
            out += HexPairToByte(std::string_view(plus).substr(i + 1, 2));
            i += 2;
        } else {
            out += plus[i];
        }
    }
    return out;
}

namespace {

bool NeedsEscape(unsigned char c) {
    return c == '\r' || c == '\n' || (c >= 0x21 && c <= 0x29) || c == 0x2B || c == 0x2C ||
           c == 0x2F || (c >= 0x3A && c <= 0x3F) || (c >= 0x5B && c <= 0x5E) || c == 0x60 ||
           (c >= 0x7B && c <= 0x7E);
}

}  // namespace

std::string UrlEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char b = static_cast<unsigned char>(c);
        if (NeedsEscape(b)) {
            out += '%';
            out += ByteToHex(b);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += c;
        }
    }
    return out;
}
