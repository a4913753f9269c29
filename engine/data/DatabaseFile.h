#pragma once

#include <cstddef>
#include <functional>
#include <string>

class CDataSource;

// Files kept in a binary (or long text) column of an application table and
// served by URL. Two URL forms, one per server mode:
//   plain:     .../FileDB/<table>/<key column>/<record id>/<data column>[/...]
//   encrypted: .../fileInDB/<token>/<file name>, the token being the
//              pair-swapped Base64 of "table-key column-check and body-data
//              column", whose record id the page engine's decoder recovers.
// Table and column names must be plain identifiers (letters, digits, '_',
// one optional schema dot): they reach the SQL as names.
//
// Failures are CSspException texts; ODBC errors name the data source as its
// commands do. Nothing is written before the whole column has been read.
namespace DatabaseFile {

// Receives the file's bytes (the response body).
using Writer = std::function<void(const void* data, size_t length)>;
// The record id of an encrypted token's parts, or a negative number when
// the check fails or the token is too old.
using IdDecoder =
    std::function<long(const std::string& table, const std::string& keyColumn,
                       const std::string& checkAndBody, const std::string& dataColumn)>;

// Parses the URL of the given mode and sends the column's bytes to write.
void SendFileFromUrl(CDataSource& ds, const std::string& url, bool encrypted, const Writer& write,
                     const IdDecoder& decode);

// Reads dataColumn of the row whose keyColumn equals recordId and hands its
// bytes to write.
void ReadFileColumn(CDataSource& ds, const std::string& table, const std::string& keyColumn,
                    long recordId, const std::string& dataColumn, const Writer& write);

}  // namespace DatabaseFile
