#include "engine/settings/FileTokenKey.h"

#include <openssl/rand.h>

namespace {

int HexValue(char c) {
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

}  // namespace

std::string FileTokenKeyText(const CFileTokenKey& key) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(key.size() * 2);
    for (unsigned char byte : key) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xf];
    }
    return text;
}

bool ParseFileTokenKey(std::string_view text, CFileTokenKey& key) {
    if (text.size() != key.size() * 2) {
        return false;
    }
    CFileTokenKey read{};
    for (size_t i = 0; i < read.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        read[i] = static_cast<unsigned char>(high * 16 + low);
    }
    key = read;
    return true;
}

bool MakeFileTokenKey(CFileTokenKey& key) {
    return RAND_bytes(key.data(), static_cast<int>(key.size())) == 1;
}
