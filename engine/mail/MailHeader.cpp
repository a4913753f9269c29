#include "engine/mail/MailHeader.h"

#include <vector>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/QuotedPrintable.h"

namespace {

size_t FindNoCase(std::string_view text, std::string_view what, size_t from = 0) {
    if (what.size() > text.size()) {
        return std::string_view::npos;
    }
    for (size_t i = from; i + what.size() <= text.size(); ++i) {
        if (AsciiStartsWithNoCase(text.substr(i), what)) {
            return i;
        }
    }
    return std::string_view::npos;
}

std::string Without(std::string_view text, std::string_view drop) {
    std::string out;
    for (char c : text) {
        if (drop.find(c) == std::string_view::npos) {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

void ParseMailAddress(std::string_view text, std::string& address, std::string& name) {
    static constexpr std::string_view kWordStart = " \t\n(,;<[";
    size_t start = text.find_first_of("<[");
    if (start == std::string_view::npos) {
        size_t at = text.find('@');
        if (at == std::string_view::npos) {
            start = 0;
        } else {
            size_t before =
                at == 0 ? std::string_view::npos : text.find_last_of(kWordStart, at - 1);
            start = before == std::string_view::npos ? 0 : before + 1;
        }
    }
    size_t begin = start;
    while (begin < text.size() && kWordStart.find(text[begin]) != std::string_view::npos) {
        ++begin;
    }
    size_t end = text.find_first_of("\r\n ),;>]", begin);
    if (end == std::string_view::npos) {
        end = text.size();
    }
    address = std::string(text.substr(begin, end - begin));

    static constexpr std::string_view kNoise = "\r\n\"();<>[]";
    name = std::string(TrimSpaceTabOrLineBreak(Without(text.substr(0, start), kNoise)));
    if (name.empty()) {
        name = std::string(TrimSpaceTabOrLineBreak(Without(text.substr(end), "\r\n\"();<>[],")));
    }
    if (name.empty()) {
        size_t at = address.find('@');
        name = (at == std::string::npos || at == 0) ? address : address.substr(0, at);
    }
}

std::string ParseMailAddressList(std::string_view text) {
    std::vector<std::string_view> items;
    bool quoted = false;
    size_t itemStart = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || (!quoted && (text[i] == ',' || text[i] == ';'))) {
            items.push_back(text.substr(itemStart, i - itemStart));
            itemStart = i + 1;
        } else if (text[i] == '"') {
            quoted = !quoted;
        }
    }
    std::string out;
    for (std::string_view item : items) {
        while (!item.empty() && IsSpaceTabOrLineBreak(item.front())) {
            item.remove_prefix(1);
        }
        if (item.empty()) {
            continue;
        }
        std::string address;
        std::string name;
        ParseMailAddress(item, address, name);
        if (address.empty()) {
            continue;
        }
        if (!out.empty()) {
            out += ", ";
        }
        out += address;
    }
    return out;
}

std::string DecodeEncodedWords(std::string_view text) {
    // Built front to back, so decoded bytes are never read as another word.
    std::string out;
    size_t from = 0;
    for (;;) {
        size_t word = FindNoCase(text, "=?iso-", from);
        if (word == std::string_view::npos) {
            break;
        }
        // The word ends at the first "?=" that is not the "?Q?=" or "?B?=" opening its text.
        size_t end = word + 2;
        while ((end = text.find("?=", end)) != std::string_view::npos && text[end - 2] == '?') {
            ++end;
        }
        if (end == std::string_view::npos) {
            break;
        }
        size_t mark = text.rfind('?', end - 1);
        if (mark == std::string_view::npos || mark <= word + 2) {
            break;
        }
        char kind = text[mark - 1];
        std::string encoded(text.substr(mark + 1, end - mark - 1));
        std::string decoded(encoded.size() + 8, '\0');
        long count = 0;
        if (kind == 'B' || kind == 'b') {
            Base64Decode(encoded.c_str(), decoded.data(), static_cast<long>(decoded.size()), count,
                         true);
        } else if (kind == 'Q' || kind == 'q') {
            QuotedPrintableDecode(encoded.c_str(), decoded.data(),
                                  static_cast<long>(decoded.size()), count, true);
        } else {
            break;
        }
        if (count <= 0) {
            break;
        }
        out.append(text.substr(from, word - from));
        out.append(decoded.data(), static_cast<size_t>(count));
        from = end + 2;
    }
    out.append(text.substr(from));
    return out;
}

std::string MailHeaderParam(std::string_view field, std::string_view key) {
    std::string withEquals = std::string(key) + "=";
    size_t pos = FindNoCase(field, withEquals);
    if (pos == std::string_view::npos) {
        return std::string();
    }
    pos += withEquals.size();
    std::string_view stops = "\r\n\"; \t";
    if (pos < field.size() && field[pos] == '"') {
        ++pos;
        stops = "\r\n\"";
    }
    size_t end = field.find_first_of(stops, pos);
    if (end == std::string_view::npos) {
        end = field.size();
    }
    return std::string(TrimSpaceTabOrLineBreak(field.substr(pos, end - pos)));
}

long FindHtmlTag(std::string_view html, std::string_view name, bool atClose, size_t from) {
    for (size_t lt = html.find('<', from); lt != std::string_view::npos;
         lt = html.find('<', lt + 1)) {
        size_t after = lt + 1 + name.size();
        if (after >= html.size() || !AsciiStartsWithNoCase(html.substr(lt + 1), name)) {
            continue;
        }
        char next = html[after];
        if (next != '>' && next != ' ' && next != '\t' && next != '\r' && next != '\n') {
            continue;
        }
        if (!atClose) {
            return static_cast<long>(lt);
        }
        size_t gt = html.find('>', after);
        return gt == std::string_view::npos ? -1 : static_cast<long>(gt);
    }
    return -1;
}
