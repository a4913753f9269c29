#include "engine/web/FormData.h"

#include <vector>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SspValue.h"
#include "engine/foundation/UrlCodec.h"

namespace {

struct CWord {
    size_t m_start;
    std::string_view m_text;
};

// The words of text between any of the delimiter bytes, with their positions.
std::vector<CWord> SplitWords(std::string_view text, std::string_view delimiters) {
    std::vector<CWord> words;
    size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of(delimiters, pos);
        if (pos == std::string_view::npos) {
            break;
        }
        size_t end = text.find_first_of(delimiters, pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        words.push_back({pos, text.substr(pos, end - pos)});
        pos = end;
    }
    return words;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLowerCopy(a) == AsciiLowerCopy(b);
}

}  // namespace

bool CFormData::Parse() {
    ParseUrlEncoded(m_query);
    if (m_multipart) {
        return ParseMultipart();
    }
    ParseUrlEncoded(m_body);
    return true;
}

void CFormData::ParseUrlEncoded(std::string_view text) {
    text = text.substr(0, text.find('#'));
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos) {
            AddVar(text.substr(pos), "");
            return;
        }
        size_t amp = text.find('&', eq + 1);
        std::string_view value =
            amp == std::string_view::npos ? text.substr(eq + 1) : text.substr(eq + 1, amp - eq - 1);
        AddVar(text.substr(pos, eq - pos), UrlDecode(value));
        if (amp == std::string_view::npos) {
            return;
        }
        pos = amp + 1;
    }
}

bool CFormData::ParseMultipart() {
    std::string_view body(m_body);
    size_t firstEnd = body.find("\r\n");
    if (firstEnd == std::string_view::npos || firstEnd == 0) {
        return true;
    }
    std::string delimiter = "\r\n" + std::string(body.substr(0, firstEnd));
    size_t pos = firstEnd;
    for (;;) {
        while (pos < body.size() && (body[pos] == '\r' || body[pos] == '\n')) {
            ++pos;
        }
        if (pos >= body.size()) {
            return true;
        }
        size_t lineEnd = body.find("\r\n", pos);
        std::string_view line =
            body.substr(pos, lineEnd == std::string_view::npos ? body.size() - pos : lineEnd - pos);
        std::string name;
        std::string fileName;
        std::vector<CWord> words = SplitWords(line, " ;=\r\n\"");
        for (size_t i = 0; i + 1 < words.size(); ++i) {
            if (!EqualsNoCase(words[i].m_text, "name")) {
                continue;
            }
            name = std::string(words[i + 1].m_text);
            if (i + 2 < words.size() && EqualsNoCase(words[i + 2].m_text, "filename")) {
                // The file name may hold blanks: it ends only at '=', quotes or a line end.
                std::string_view rest =
                    line.substr(words[i + 2].m_start + words[i + 2].m_text.size());
                std::vector<CWord> fileWords = SplitWords(rest, "=\"\r\n");
                if (!fileWords.empty()) {
                    fileName = std::string(fileWords.front().m_text);
                }
            }
            break;
        }
        size_t headerEnd = body.find("\r\n\r\n", pos);
        if (headerEnd == std::string_view::npos) {
            return true;
        }
        size_t dataStart = headerEnd + 4;
        size_t dataEnd = body.find(delimiter, dataStart);
        if (!fileName.empty()) {
            std::string key = AsciiLowerCopy(name);
            m_values[key] = fileName;
            m_parts[key] = {dataStart, dataEnd == std::string_view::npos ? body.size() : dataEnd};
        } else if (dataEnd != std::string_view::npos) {
            AddVar(name, body.substr(dataStart, dataEnd - dataStart));
        }
        if (dataEnd == std::string_view::npos) {
            return false;
        }
        pos = dataEnd + delimiter.size();
        if (body.substr(pos, 4) == "--\r\n") {
            pos += 4;
        }
        if (pos >= body.size()) {
            return true;
        }
    }
}

void CFormData::AddVar(std::string_view name, std::string_view value) {
    value = TrimAsciiSpace(value);
    auto [it, inserted] = m_values.try_emplace(AsciiLowerCopy(name), value);
    if (inserted || value.empty()) {
        return;
    }
    if (!it->second.empty()) {
        it->second += '\n';
    }
    it->second += value;
}

void CFormData::SetVar(std::string_view name, std::string_view value) {
    m_values[AsciiLowerCopy(name)] = std::string(TrimAsciiSpace(value));
}

const std::string* CFormData::GetValue(std::string_view name) const {
    auto it = m_values.find(AsciiLowerCopy(name));
    return it == m_values.end() ? nullptr : &it->second;
}

size_t CFormData::GetSize(std::string_view name) const {
    const std::string* value = GetValue(name);
    return value == nullptr ? 0 : value->size();
}

bool CFormData::IsFile(std::string_view name) const {
    return m_parts.count(AsciiLowerCopy(name)) != 0;
}

std::string CFormData::UploadFileName(std::string_view sentName) {
    // Either separator ends a folder, so that no part of a path survives.
    size_t cut = sentName.find_last_of("\\/");
    if (cut == std::string_view::npos) {
        cut = sentName.find_last_of(':');
    }
    std::string name(cut == std::string_view::npos ? sentName : sentName.substr(cut + 1));
    for (char& c : name) {
        if (c == ' ') {
            c = '_';
        }
    }
    // Names that would stand for a folder are never handed on.
    if (name.empty() || name == "." || name == "..") {
        name = "_";
    }
    return name;
}

CFormData::ECopyResult CFormData::CopyFilePart(std::string_view name, std::string& fileName,
                                               CLongBinary& data) const {
    std::string key = AsciiLowerCopy(name);
    auto value = m_values.find(key);
    if (value == m_values.end()) {
        return ECopyResult::kNoVariable;
    }
    auto part = m_parts.find(key);
    if (part == m_parts.end()) {
        return ECopyResult::kNotAFile;
    }
    const CPart& range = part->second;
    if (!data.Assign(m_body.data() + range.m_start, range.m_end - range.m_start)) {
        return ECopyResult::kNoMemory;
    }
    fileName = UploadFileName(value->second);
    return ECopyResult::kOk;
}
