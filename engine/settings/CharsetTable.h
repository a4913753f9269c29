#pragma once

#include <string>
#include <vector>

// The text encodings the server offers by default, one per ANSI code page, with the name the
// console shows for each.
struct CCharsetRow {
    const char* m_name;     // "Western European (ISO)"
    const char* m_charset;  // "iso-8859-1"
    int m_codePage;         // 1252
};

// The table, in its order.
const std::vector<CCharsetRow>& CharsetTable();

// The charset of the row for a code page, or empty text when the table has none.
std::string CharsetForCodePage(int codePage);

// The ANSI code page that stands for a locale's character set name ("ISO-8859-1", "cp1252",
// "EUC-KR", ...; case and '-' or '_' do not matter), or 0 when none does.
int CodePageForCodeset(const std::string& codeset);

// The default text encoding for a locale's character set name: the table's charset for its code
// page; "utf-8" for UTF-8 and for a plain C/POSIX locale (no code page of the table applies and
// the host's files are UTF-8); empty text for any other set.
std::string DefaultCharsetForCodeset(const std::string& codeset);

// The character set of the host's locale as named by the environment (LC_ALL, then LC_CTYPE,
// then LANG: the part after the '.' and before any '@'), without changing the process locale;
// empty text when none is named.
std::string SystemCodeset();
