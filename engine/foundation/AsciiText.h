// Case folding of the engine: ASCII letters only, whatever the locale, since names of
// variables, members, settings and extensions are 8-bit text that must never be re-mapped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

constexpr char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

std::string AsciiLowerCopy(std::string_view text);
std::string AsciiUpperCopy(std::string_view text);

bool AsciiEqualNoCase(std::string_view a, std::string_view b);

// Byte equality for short names, inline: a call to memcmp costs more than comparing them.
constexpr bool SameBytes(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

// True when text begins with prefix, letters compared without regard to case.
bool AsciiStartsWithNoCase(std::string_view text, std::string_view prefix);

// Every `ch` of `text` doubled: '%' for text passed on as a format, "'" inside an SQL literal.
std::string DoubledChar(std::string_view text, char ch);
