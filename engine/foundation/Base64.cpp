#include "engine/foundation/Base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kNotInAlphabet = 127;

// Built at compile time, so the first decoder calls from several threads need no guard.
constexpr std::array<std::uint8_t, 256> MakeReverse() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) {
        entry = kNotInAlphabet;
    }
    for (std::uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kReverse = MakeReverse();

constexpr std::size_t kLineLength = 76;

}  // namespace

long Base64Decode(const char* text, char* buffer, long bufferSize, long& byteCount, bool flush) {
    if (text == nullptr || buffer == nullptr || bufferSize <= 0) {
        return 0;
    }
    long written = 0;
    long consumed = 0;
    long index = 0;
    std::uint32_t accumulator = 0;
    int pending = 0;
    for (; text[index] != '\0' && written < bufferSize - 3; ++index) {
        const std::uint8_t value = kReverse[static_cast<unsigned char>(text[index])];
        if (value == kNotInAlphabet) {
            continue;
        }
        accumulator = (accumulator << 6) | value;
        if (++pending == 4) {
            buffer[written++] = static_cast<char>(accumulator >> 16);
            buffer[written++] = static_cast<char>(accumulator >> 8);
            buffer[written++] = static_cast<char>(accumulator);
            accumulator = 0;
            pending = 0;
            consumed = index + 1;
        }
    }
    if (flush) {
        // 2 characters hold 1 whole byte, 3 hold 2.
        const int bytes = pending > 1 ? pending - 1 : 0;
        const std::uint32_t bits = accumulator << (6 * (4 - pending));
        for (int i = 0; i < bytes && written < bufferSize - 1; ++i) {
            buffer[written++] = static_cast<char>(bits >> (16 - 8 * i));
        }
        consumed = index;
    }
    buffer[written] = '\0';
    byteCount = written;
    return consumed;
}

void Base64Encode(const void* bytes, std::size_t length, std::string& out) {
    out.clear();
    if (bytes == nullptr || length == 0) {
        return;
    }
    out.reserve(length / 57 * 78 + 78 + 5);
    const auto* in = static_cast<const unsigned char*>(bytes);
    std::size_t lineUsed = 0;
    for (std::size_t i = 0; i < length; i += 3) {
        if (lineUsed == kLineLength) {
            out += "\r\n";
            lineUsed = 0;
        }
        const std::size_t left = length - i;
        const std::uint32_t group = (std::uint32_t{in[i]} << 16) |
                                    (left > 1 ? std::uint32_t{in[i + 1]} << 8 : 0) |
                                    (left > 2 ? std::uint32_t{in[i + 2]} : 0);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        out += left > 2 ? kAlphabet[group & 63] : '=';
        lineUsed += 4;
    }
}

void Base64EncodeText(const char* text, std::string& out) {
    Base64Encode(text, text != nullptr ? std::strlen(text) : 0, out);
}

void SwapCharPairs(std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        std::swap(text[i], text[i + 1]);
    }
}
