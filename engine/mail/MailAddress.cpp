#include "engine/mail/MailAddress.h"

#include <cstring>

#include "engine/foundation/Base64.h"

namespace {

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

bool IsAtext(char ch) {
    const unsigned char byte = static_cast<unsigned char>(ch);
    if (byte >= 0x80) {
        return true;
    }
    if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) {
        return true;
    }
    return std::strchr("!#$%&'*+-/=?^_`{|}~", ch) != nullptr && ch != '\0';
}

bool IsDotAtom(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '.') {
            if (text[i + 1] == '.') {
                return false;
            }
        } else if (!IsAtext(text[i])) {
            return false;
        }
    }
    return true;
}

bool IsQuotedLocal(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return false;
    }
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
            if (i + 1 >= text.size()) {
                return false;
            }
        } else if (text[i] == '"' || text[i] == '\r' || text[i] == '\n') {
            return false;
        }
    }
    return true;
}

bool IsDomainLiteral(std::string_view text) {
    if (text.size() < 3 || text.front() != '[' || text.back() != ']') {
        return false;
    }
    return text.substr(1, text.size() - 2).find_first_of("[]\\ \t\r\n") == std::string_view::npos;
}

// The element's pieces, as the scanner finds them.
struct Token {
    enum EKind { kWord, kQuoted, kComment, kAngle } m_kind;
    std::string m_text;  // a word raw; a quoted string or comment without its delimiters
};

// Reads a quoted string or a comment that starts at text[pos]; pos ends after its close.
// Returns false when it never closes.
bool ReadDelimited(std::string_view text, size_t& pos, std::string& content) {
    const char open = text[pos];
    const char close = open == '(' ? ')' : '"';
    int depth = 1;
    for (++pos; pos < text.size(); ++pos) {
        const char ch = text[pos];
        if (ch == '\\' && pos + 1 < text.size()) {
            content += text[++pos];
        } else if (ch == close && --depth == 0) {
            ++pos;
            return true;
        } else {
            if (open == '(' && ch == '(') {
                ++depth;
            }
            content += ch;
        }
    }
    return false;
}

// Scans one element from pos up to a ',' or ';' outside its quotes, comments and
// angle brackets. Returns false when a quote, comment or bracket is left open.
bool ScanElement(std::string_view text, size_t& pos, std::vector<Token>& tokens) {
    bool inWord = false;
    auto endWord = [&] { inWord = false; };
    while (pos < text.size()) {
        const char ch = text[pos];
        if (ch == ',' || ch == ';') {
            return true;
        }
        if (IsBlank(ch)) {
            endWord();
            ++pos;
        } else if (ch == '(') {
            endWord();
            std::string content;
            if (!ReadDelimited(text, pos, content)) {
                return false;
            }
            tokens.push_back({Token::kComment, content});
        } else if (ch == '<') {
            endWord();
            const size_t close = text.find('>', pos);
            if (close == std::string_view::npos) {
                pos = text.size();
                return false;
            }
            tokens.push_back({Token::kAngle, std::string(text.substr(pos + 1, close - pos - 1))});
            pos = close + 1;
        } else if (ch == '"') {
            const size_t start = pos;
            std::string content;
            if (!ReadDelimited(text, pos, content)) {
                return false;
            }
            const bool glued = inWord || (pos < text.size() && !IsBlank(text[pos]) &&
                                          std::strchr(",;(<\"", text[pos]) == nullptr);
            if (glued) {
                // Part of a word such as "john doe"@x.org: kept as written.
                if (!inWord) {
                    tokens.push_back({Token::kWord, ""});
                    inWord = true;
                }
                tokens.back().m_text.append(text.substr(start, pos - start));
            } else {
                tokens.push_back({Token::kQuoted, content});
            }
        } else {
            if (!inWord) {
                tokens.push_back({Token::kWord, ""});
                inWord = true;
            }
            tokens.back().m_text += ch;
            ++pos;
        }
    }
    return true;
}

std::string Trimmed(std::string_view text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && IsBlank(text[start])) {
        ++start;
    }
    while (end > start && IsBlank(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(start, end - start));
}

// The address a word or quoted token stands for on its own, or empty. A quoted
// string that holds an address alone is that address: the older splitter dropped
// the quotes, and queues written then still hold it so.
std::string BareAddress(const Token& token) {
    if (token.m_kind == Token::kWord || token.m_kind == Token::kQuoted) {
        if (IsAddrSpec(token.m_text)) {
            return token.m_text;
        }
    }
    return {};
}

// Turns one element's tokens into addresses; false when it is not one.
bool ReadElement(const std::vector<Token>& tokens, std::vector<CMailAddress>& out) {
    size_t angle = tokens.size();
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].m_kind == Token::kAngle) {
            if (angle != tokens.size()) {
                return false;
            }
            angle = i;
        }
    }
    if (angle != tokens.size()) {
        const std::string address = Trimmed(tokens[angle].m_text);
        if (!IsAddrSpec(address)) {
            return false;
        }
        std::string name;
        for (size_t i = 0; i < tokens.size(); ++i) {
            const Token& token = tokens[i];
            if (i > angle && token.m_kind != Token::kComment) {
                return false;
            }
            if (i < angle && token.m_kind != Token::kComment) {
                if (!name.empty()) {
                    name += ' ';
                }
                name += token.m_text;
            }
        }
        out.push_back({address, name});
        return true;
    }
    std::vector<std::string> addresses;
    std::string comment;
    for (const Token& token : tokens) {
        if (token.m_kind == Token::kComment) {
            if (!comment.empty()) {
                comment += ' ';
            }
            comment += Trimmed(token.m_text);
            continue;
        }
        std::string address = BareAddress(token);
        if (address.empty()) {
            return false;
        }
        addresses.push_back(std::move(address));
    }
    if (addresses.empty()) {
        return false;
    }
    // "addr (comment)": the comment is how the name was written before display names.
    for (std::string& address : addresses) {
        out.push_back({std::move(address), addresses.size() == 1 ? comment : std::string()});
    }
    return true;
}

bool IsPlainPhrase(std::string_view name) {
    if (name.empty() || name.front() == ' ' || name.back() == ' ') {
        return false;
    }
    for (char ch : name) {
        if (ch != ' ' && !IsAtext(ch)) {
            return false;
        }
    }
    return name.find("=?") == std::string_view::npos;
}

bool HasHighBytes(std::string_view text) {
    for (char ch : text) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            return true;
        }
    }
    return false;
}

// Encoded words of at most 75 characters, each holding whole UTF-8 sequences.
std::string EncodedWords(std::string_view name) {
    constexpr size_t kBytesPerWord = 45;  // 60 Base64 characters
    std::string words;
    size_t pos = 0;
    while (pos < name.size()) {
        size_t end = std::min(name.size(), pos + kBytesPerWord);
        while (end < name.size() && end > pos + 1 &&
               (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
            --end;
        }
        std::string base64;
        Base64Encode(name.data() + pos, end - pos, base64);
        if (!words.empty()) {
            words += ' ';
        }
        words += "=?UTF-8?B?" + base64 + "?=";
        pos = end;
    }
    return words;
}

}  // namespace

bool IsAddrSpec(std::string_view text) {
    const size_t at = text.rfind('@');
    if (at == std::string_view::npos) {
        return false;
    }
    const std::string_view local = text.substr(0, at);
    const std::string_view domain = text.substr(at + 1);
    return (IsDotAtom(local) || IsQuotedLocal(local)) &&
           (IsDotAtom(domain) || IsDomainLiteral(domain));
}

CMailAddressList ParseMailAddresses(std::string_view text) {
    CMailAddressList list;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (IsBlank(text[pos]) || text[pos] == ',' || text[pos] == ';')) {
            ++pos;
        }
        if (pos >= text.size()) {
            break;
        }
        const size_t start = pos;
        std::vector<Token> tokens;
        const bool closed = ScanElement(text, pos, tokens);
        if (!closed || !ReadElement(tokens, list.m_addresses)) {
            list.m_bad.push_back(Trimmed(text.substr(start, pos - start)));
        }
    }
    return list;
}

std::string DisplayNameForHeader(std::string_view name) {
    if (HasHighBytes(name)) {
        return EncodedWords(name);
    }
    if (IsPlainPhrase(name)) {
        return std::string(name);
    }
    std::string quoted = "\"";
    for (char ch : name) {
        if (ch == '"' || ch == '\\') {
            quoted += '\\';
        }
        quoted += (ch == '\r' || ch == '\n') ? ' ' : ch;
    }
    return quoted + "\"";
}

std::string AddressForHeader(const CMailAddress& address) {
    if (address.m_strName.empty()) {
        return address.m_strAddress;
    }
    return DisplayNameForHeader(address.m_strName) + " <" + address.m_strAddress + ">";
}

std::string AddressListForHeader(const std::vector<CMailAddress>& addresses, size_t used) {
    constexpr size_t kLine = 78;
    std::string value;
    size_t line = used;
    for (const CMailAddress& address : addresses) {
        const std::string one = AddressForHeader(address);
        if (!value.empty()) {
            // Room for the comma that may follow it too.
            if (line + 2 + one.size() + 1 > kLine) {
                value += ",\r\n ";
                line = 1;
            } else {
                value += ", ";
                line += 2;
            }
        }
        value += one;
        line += one.size();
    }
    return value;
}

std::string OneHeaderLine(std::string text) {
    for (char& ch : text) {
        if (ch == '\r' || ch == '\n') {
            ch = ' ';
        }
    }
    return text;
}
