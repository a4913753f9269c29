#include "engine/data/DatabaseFile.h"

#include <strings.h>

#include <cstdlib>
#include <vector>

#include "engine/data/DataSource.h"
#include "engine/data/DbException.h"
#include "engine/data/DynBindSet.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

namespace {

constexpr const char* kNotFound = "The attachment has already been deleted";

bool IsName(const std::string& name) {
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_')) {
            return false;
        }
    }
    return !name.empty();
}

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           AsciiEqualNoCase(std::string_view(text).substr(0, prefix.size()), prefix);
}

// The database's own tables hold its schema (every CREATE TABLE text) and its users; a dot
// reaches into another schema or an attached database.
bool IsCatalogueName(const std::string& name) {
    return name.find('.') != std::string::npos || StartsWithNoCase(name, "sqlite_") ||
           StartsWithNoCase(name, "pg_") || StartsWithNoCase(name, "information_schema");
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
                     const TokenDecoder& decode) {
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
        CTokenRow row;
        const ETokenCheck check =
            decode ? decode(url.substr(begin, last - begin), row) : ETokenCheck::kForged;
        if (check == ETokenCheck::kForged) {
            throw CSspException(kNotFound);
        }
        if (check == ETokenCheck::kStale || row.m_recordId < 0) {
            throw CSspException(g_msg.m_invalidAttachmentId);
        }
        ReadFileColumn(ds, row.m_table, row.m_keyColumn, row.m_recordId, row.m_dataColumn, write);
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
    // A name missing from a token, the key column bound again as the data column (which
    // leaves no second column to read) or the catalogue names no file: answered as a missing
    // row.
    if (table.empty() || keyColumn.empty() || dataColumn.empty() ||
        AsciiEqualNoCase(keyColumn, dataColumn) || IsCatalogueName(table) ||
        IsCatalogueName(keyColumn) || IsCatalogueName(dataColumn)) {
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
