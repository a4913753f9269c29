#pragma once

// Quoted-printable (RFC 2045) decoding for mail bodies and headers.
//
// Decodes `text` (NUL-terminated) into `buffer` of `bufferSize` bytes while room remains for
// the terminating NUL; writes the byte count to `byteCount` and the NUL. "=XX" (hex digits of
// either case) gives that byte; "=" CR LF is a soft line break and vanishes, as do "=" LF,
// "=" CR and a final "="; any other "=" stays literally. With `underscoreToBlank` ("Q"
// encoded headers) "_" gives a blank. Returns the number of input characters consumed, or 0
// (writing nothing) when text or buffer is missing or the size is below 1.
long QuotedPrintableDecode(const char* text, char* buffer, long bufferSize, long& byteCount,
                           bool underscoreToBlank);
