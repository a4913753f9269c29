// A file's bytes as the editor shows them, and back. Valid UTF-8 shows as UTF-8, anything else
// byte for byte as Latin-1. Lines break only at LF (as the engine counts them); each keeps the
// end it was read with. A lone CR and a NUL show as visible marks and go back as their bytes.
#pragma once

#include <QString>
#include <string>
#include <vector>

struct CTextLine {
    QString m_text;
    std::string m_end;  // "\n", "\r\n" or "" (the last line)
};

class CDocumentText {
public:
    static constexpr char16_t kCrMark = u'\u240D';
    static constexpr char16_t kNulMark = u'\u2400';

    static bool IsUtf8(const std::string& bytes);
    // Splits `bytes` into lines; `utf8` tells how they were read.
    static std::vector<CTextLine> Decode(const std::string& bytes, bool& utf8);
    // The end a new line takes: the first line's, LF when there is none.
    static std::string FirstLineEnd(const std::vector<CTextLine>& lines);
    // The bytes of one line's text; false when a character cannot be stored (not Latin-1 in a
    // Latin-1 file).
    static bool Encode(const QString& text, bool utf8, std::string& bytes);
    // Whether `text` may be typed into a file read as `utf8`: never the marks themselves.
    static bool CanStore(const QString& text, bool utf8);
    // The character index in `text` that byte `offset` of its encoding falls on (the text's
    // length past its end).
    static int CharacterAt(const QString& text, bool utf8, long offset);
};
