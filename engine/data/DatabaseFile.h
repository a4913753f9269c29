#pragma once

#include <cstddef>
#include <functional>
#include <string>

class CDataSource;

// Files kept in a binary (or long text) column of an application table and
// served by URL. Two URL forms, one per server mode:
//   plain:     .../FileDB/<table>/<key column>/<record id>/<data column>[/...]
//   encrypted: .../fileInDB/<token>/<file name>, the token being the signed
//              text that the page engine's decoder reads back into the names
//              and the record id (engine/script/FileIdUrl.h).
// Table and column names must be plain identifiers (letters, digits, '_'):
// they reach the SQL as names. The database's own catalogue (sqlite_*, pg_*,
// information_schema) and any name with a '.' (another schema or database)
// are answered as a missing row, in both forms.
//
// Failures are CSspException texts; ODBC errors name the data source as its
// commands do. Nothing is written before the whole column has been read.
namespace DatabaseFile {

// Receives the file's bytes (the response body).
using Writer = std::function<void(const void* data, size_t length)>;
// What an encrypted token names.
struct CTokenRow {
    std::string m_table;
    std::string m_keyColumn;
    std::string m_dataColumn;
    long m_recordId = -1;
};
enum class ETokenCheck {
    kGenuine,  // the row is read
    kForged,   // answered exactly as a missing row, and no SQL runs
    kStale,    // genuine but too old, or of an earlier run: the user is told to refresh
};
// Reads the token segment of an encrypted URL (as received, between "/fileInDB/" and the
// last '/').
using TokenDecoder = std::function<ETokenCheck(const std::string& token, CTokenRow& row)>;

// Parses the URL of the given mode and sends the column's bytes to write.
void SendFileFromUrl(CDataSource& ds, const std::string& url, bool encrypted, const Writer& write,
                     const TokenDecoder& decode);

// Reads dataColumn of the row whose keyColumn equals recordId and hands its
// bytes to write.
void ReadFileColumn(CDataSource& ds, const std::string& table, const std::string& keyColumn,
                    long recordId, const std::string& dataColumn, const Writer& write);

}  // namespace DatabaseFile
