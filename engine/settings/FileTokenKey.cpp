#include "engine/settings/FileTokenKey.h"

#include <openssl/rand.h>

#include "engine/foundation/UrlCodec.h"

std::string FileTokenKeyText(const CFileTokenKey& key) {
    std::string text;
    text.reserve(key.size() * 2);
    for (unsigned char byte : key) {
        text += ByteToHex(byte);
    }
    return text;
}

bool ParseFileTokenKey(std::string_view text, CFileTokenKey& key) {
    if (text.size() != key.size() * 2) {
        return false;
    }
    CFileTokenKey read{};
    for (size_t i = 0; i < read.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
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
