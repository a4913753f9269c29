#include "engine/settings/CharsetTable.h"

#include <cstdlib>

namespace {

// Upper-case letters and digits only: "iso_8859-1" and "ISO88591" read alike.
std::string Squeeze(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c >= 'a' && c <= 'z') {
            out += static_cast<char>(c - ('a' - 'A'));
        } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += c;
        }
    }
    return out;
}

struct CodesetRow {
    const char* m_codeset;  // squeezed
    int m_codePage;
};

// The host character sets that stand for each code page of the table.
const CodesetRow kCodesets[] = {
    {"TIS620", 874},       {"CP874", 874},        {"WINDOWS874", 874},   {"SJIS", 932},
    {"SHIFTJIS", 932},     {"CP932", 932},        {"EUCJP", 932},        {"GB2312", 936},
    {"GBK", 936},          {"GB18030", 936},      {"CP936", 936},        {"EUCCN", 936},
    {"EUCKR", 949},        {"CP949", 949},        {"BIG5", 950},         {"BIG5HKSCS", 950},
    {"CP950", 950},        {"ISO88592", 1250},    {"CP1250", 1250},      {"WINDOWS1250", 1250},
    {"ISO88595", 1251},    {"CP1251", 1251},      {"WINDOWS1251", 1251}, {"KOI8R", 1251},
    {"KOI8U", 1251},       {"ISO88591", 1252},    {"ISO885915", 1252},   {"CP1252", 1252},
    {"WINDOWS1252", 1252}, {"ISO88597", 1253},    {"CP1253", 1253},      {"WINDOWS1253", 1253},
    {"ISO88599", 1254},    {"CP1254", 1254},      {"WINDOWS1254", 1254}, {"ISO88598", 1255},
    {"CP1255", 1255},      {"WINDOWS1255", 1255}, {"ISO88596", 1256},    {"CP1256", 1256},
    {"WINDOWS1256", 1256}, {"ISO88594", 1257},    {"ISO885913", 1257},   {"CP1257", 1257},
    {"WINDOWS1257", 1257}, {"CP1258", 1258},      {"WINDOWS1258", 1258},
};

}  // namespace

const std::vector<CCharsetRow>& CharsetTable() {
    static const std::vector<CCharsetRow> table = {
        {"Thai (Windows)", "windows-874", 874},
        {"Japanese (Shift-JIS)", "shift_jis", 932},
        {"Chinese Simplified (GB2312)", "gb2312", 936},
        {"Korean (EUC)", "iso-2022-kr", 949},
        {"Chinese Traditional (Big5)", "big5", 950},
        {"Central European (ISO)", "iso-8859-2", 1250},
        {"Cyrillic (ISO)", "iso-8859-5", 1251},
        {"Western European (ISO)", "iso-8859-1", 1252},
        {"Greek (ISO)", "iso-8859-7", 1253},
        {"Turkish (ISO)", "iso-8859-9", 1254},
        {"Hebrew (ISO-Visual)", "iso-8859-8", 1255},
        {"Arabic (ISO)", "iso-8859-6", 1256},
        {"Baltic (ISO)", "iso-8859-4", 1257},
        {"Vietnamese (Windows)", "windows-1258", 1258},
    };
    return table;
}

std::string CharsetForCodePage(int codePage) {
    for (const CCharsetRow& row : CharsetTable()) {
        if (row.m_codePage == codePage) {
            return row.m_charset;
        }
    }
    return std::string();
}

int CodePageForCodeset(const std::string& codeset) {
    const std::string squeezed = Squeeze(codeset);
    for (const CodesetRow& row : kCodesets) {
        if (squeezed == row.m_codeset) {
            return row.m_codePage;
        }
    }
    return 0;
}

std::string DefaultCharsetForCodeset(const std::string& codeset) {
    const std::string squeezed = Squeeze(codeset);
    if (squeezed.empty() || squeezed == "UTF8" || squeezed == "ANSIX341968" ||
        squeezed == "ASCII" || squeezed == "USASCII") {
        return "utf-8";
    }
    return CharsetForCodePage(CodePageForCodeset(codeset));
}

std::string SystemCodeset() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        const std::string locale = value;
        const size_t dot = locale.find('.');
        if (dot == std::string::npos) {
            return std::string();
        }
        const size_t at = locale.find('@', dot);
        return locale.substr(dot + 1, at == std::string::npos ? std::string::npos : at - dot - 1);
    }
    return std::string();
}
