#pragma once

#include <cstddef>
#include <string>

// Base64 of RFC 2045 ("A-Z a-z 0-9 + /", pad "=") for mail bodies, uploads and the
// file-in-database token.

// Decodes `text` (NUL-terminated) into `buffer` of `bufferSize` bytes, skipping every
// character outside the alphabet (pads, line breaks, blanks). Writes the decoded byte count
// to `byteCount` and a NUL after the bytes. Decoding stops when fewer than 4 bytes of room
// remain. With `flush`, the whole bytes of a trailing partial group are written too and the
// result is the number of characters walked; without it a partial group is left unwritten
// and the result counts only up to the end of the last complete group, so the caller can
// keep the rest for its next call. Returns 0 (and writes nothing) when text or buffer is
// missing or the size is not positive.
long Base64Decode(const char* text, char* buffer, long bufferSize, long& byteCount, bool flush);

// Replaces `out` with the encoding of `length` bytes: lines of 76 characters separated by
// CR LF, no line break after the last; the last group padded with "=" or "==".
void Base64Encode(const void* bytes, std::size_t length, std::string& out);

// Base64Encode of a NUL-terminated text (a null text encodes as empty).
void Base64EncodeText(const char* text, std::string& out);

// Swaps characters 0 and 1, 2 and 3, ... in place; an odd last character stays. The
// file-in-database token scrambles its Base64 text with it.
void SwapCharPairs(std::string& text);
