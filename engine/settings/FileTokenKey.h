#pragma once

#include <array>
#include <string>
#include <string_view>

// The secret that signs attachment tokens (engine/script/FileIdUrl.h). One per installation:
// made at its first start and kept in the settings store as "FileTokenKey", so that every
// program serving its pages signs and checks with the same key.
using CFileTokenKey = std::array<unsigned char, 32>;

// The stored form: 64 lower-case hex digits.
std::string FileTokenKeyText(const CFileTokenKey& key);

// False, leaving `key` as it was, unless `text` is exactly 64 hex digits (either case).
bool ParseFileTokenKey(std::string_view text, CFileTokenKey& key);

// A new key from the system's random source; false when the source fails.
bool MakeFileTokenKey(CFileTokenKey& key);
