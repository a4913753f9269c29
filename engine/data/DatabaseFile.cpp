#include "engine/data/DatabaseFile.h"

#include <strings.h>

#include <cstdlib>
#include <vector>

#include "engine/data/DataSource.h"
#include "engine/data/DbException.h"
#include "engine/data/DynBindSet.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

namespace {

constexpr const char* kNotFound = "The attachment has already been deleted";

bool IsName(const std::string& name) {
    bool partEmpty = true;
    int dots = 0;
    for (char c : name) {
        if (c == '.') {
            if (partEmpty || ++dots > 1) {
                return false;
            }
            partEmpty = true;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '_') {
            partEmpty = false;
        } else {
            return false;
        }
    }
    return !partEmpty;
}

// The name a column is bound under: without its table or schema part.
std::string_view BoundName(std::string_view column) {
    size_t dot = column.find('.');
    return dot == std::string_view::npos ? column : column.substr(dot + 1);
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t at = text.find(sep, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

}  // namespace

namespace DatabaseFile {

void SendFileFromUrl(CDataSource& ds, const std::string& url, bool encrypted, const Writer& write,
                     const IdDecoder& decode) {
    const std::string lower = AsciiLowerCopy(url);
    if (encrypted) {
        static const std::string kMark = "/fileindb/";
        size_t at = lower.find(kMark);
        if (at == std::string::npos) {
            throw CSspException(g_msg.m_encryptedFileUrlExpected);
        }
        size_t last = url.rfind('/');
        size_t begin = at + kMark.size();
        if (last == std::string::npos || last < begin) {
            throw CSspException(g_msg.m_internalError);
        }
        std::string token = url.substr(begin, last - begin);
        SwapCharPairs(token);
        std::vector<char> buffer(token.size() + 1);
        long count = 0;
        Base64Decode(token.c_str(), buffer.data(), static_cast<long>(buffer.size()), count, true);
        std::vector<std::string> parts = Split(std::string(buffer.data(), count), '-');
        parts.resize(std::max<size_t>(parts.size(), 4));
        long id = decode ? decode(parts[0], parts[1], parts[2], parts[3]) : -1;
        if (id < 0) {
            throw CSspException(g_msg.m_invalidAttachmentId);
        }
        ReadFileColumn(ds, parts[0], parts[1], id, parts[3], write);
        return;
    }
    if (lower.find("/filedb/") == std::string::npos) {
        throw CSspException(g_msg.m_plainFileUrlExpected);
    }
    std::vector<std::string> segments = Split(url, '/');
    size_t i = 0;
    while (i < segments.size() && strcasecmp(segments[i].c_str(), "FileDB") != 0) {
        ++i;
    }
    segments.resize(std::max(segments.size(), i + 5));
    const std::string& table = segments[i + 1];
    const std::string& key = segments[i + 2];
    const std::string& id = segments[i + 3];
    const std::string& column = segments[i + 4];
    if (table.empty()) {
        throw CSspException(g_msg.m_urlMissingTable);
    }
    if (key.empty()) {
        throw CSspException(g_msg.m_urlMissingKeyColumn);
    }
    if (id.empty()) {
        throw CSspException(g_msg.m_urlMissingKeyValue);
    }
    if (column.empty()) {
        throw CSspException(g_msg.m_urlMissingDataColumn);
    }
    ReadFileColumn(ds, table, key, std::atol(id.c_str()), column, write);
}

void ReadFileColumn(CDataSource& ds, const std::string& table, const std::string& keyColumn,
                    long recordId, const std::string& dataColumn, const Writer& write) {
    // A name missing from a token, or the key column bound again as the data column (which
    // leaves no second column to read), names no file: answered as a missing row.
    if (table.empty() || keyColumn.empty() || dataColumn.empty() ||
        AsciiEqualNoCase(BoundName(keyColumn), BoundName(dataColumn))) {
        throw CSspException(kNotFound);
    }
    for (const std::string* name : {&table, &keyColumn, &dataColumn}) {
        if (!IsName(*name)) {
            throw CSspException("Invalid name in attachment URL: " + *name);
        }
    }
    std::string message;
    try {
        ds.DoCommand("Open");
        CDynBindSet set(&ds.Connection());
        set.AddTable(table);
        set.AddColumn(keyColumn);
        set.AddColumn(dataColumn);
        set.m_strFilter = keyColumn + " = " + std::to_string(recordId);
        if (!set.OpenDefault()) {
            message = "Failed to open table: " + table;
        } else if (set.IsEOF()) {
            message = kNotFound;
        } else {
            const CSspValue* data = set.GetColumnValue(1);
            if (data == nullptr) {
                message = kNotFound;
            } else if ((data->IsBinary() || data->IsLongText()) && !data->IsNull() && write) {
                write(data->m_blob.Data(), data->m_blob.Length());
            } else {
                message = "Please specify the column where the file is stored.";
            }
        }
        set.Close();
    } catch (const CDbException& e) {
        ds.RaiseDbError(e);
    }
    if (!message.empty()) {
        throw CSspException(message);
    }
}

}  // namespace DatabaseFile
