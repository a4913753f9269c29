#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// The stream cipher behind the pass-text ciphers of the To and Session objects: RC4 keyed with
// the 16-byte MD5 of the pass text, no salt, the keystream restarting with every text. Texts
// ciphered by the Windows provider ("Microsoft Enhanced Cryptographic Provider", 128-bit key)
// decipher here and back.

// The RC4 key of a pass text: the whole MD5 digest.
using CRc4Key = std::array<unsigned char, 16>;

// RC4 over `data` in place with a fresh keystream from `key` (1 to 256 bytes). Encryption and
// decryption are the same operation.
// REQUIRES: !key.empty() && key.size() <= 256.
void Rc4Transform(std::span<const unsigned char> key, std::span<unsigned char> data);

// Copies of `bytes` through Rc4Transform with the pass-text key.
std::string Rc4Transform(const CRc4Key& key, std::string_view bytes);

// The MD5 digest of `bytes` (OpenSSL EVP). False when the library fails; `failure` then names
// the step: "AcquireContext failed." (no MD5 available), "CreateHash failed.",
// "HashData failed." or "DeriveKey failed." (the digest could not be finished).
bool DerivePassTextKey(std::string_view passText, CRc4Key& key, std::string& failure);
