#include "engine/foundation/QuotedPrintable.h"

#include "engine/foundation/UrlCodec.h"

long QuotedPrintableDecode(const char* text, char* buffer, long bufferSize, long& byteCount,
                           bool underscoreToBlank) {
    if (text == nullptr || buffer == nullptr || bufferSize < 1) {
        return 0;
    }
    long written = 0;
    long index = 0;
    while (text[index] != '\0' && written < bufferSize - 1) {
        const char ch = text[index];
        if (ch == '=') {
            const char next = text[index + 1];
            if (next == '\0') {
                index += 1;
                continue;
            }
            if (next == '\r' && text[index + 2] == '\n') {
                index += 3;
                continue;
            }
            if (next == '\r' || next == '\n') {
                index += 2;
                continue;
            }
            const int high = HexDigitValue(next);
            const int low = high >= 0 ? HexDigitValue(text[index + 2]) : -1;
            if (low >= 0) {
                buffer[written++] = static_cast<char>(high * 16 + low);
                index += 3;
                continue;
            }
            buffer[written++] = '=';
            index += 1;
            continue;
        }
        buffer[written++] = (ch == '_' && underscoreToBlank) ? ' ' : ch;
        index += 1;
    }
    buffer[written] = '\0';
    byteCount = written;
    return index;
}
