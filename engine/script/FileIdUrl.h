#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "engine/settings/FileTokenKey.h"

// Attachment URLs: links to files stored in the database whose token is tied to this run of
// the server and expires.
//
// A token text is "<table>-<key column>-<check><body>-<data column>-<mac>": check is two digits
// (the alternate-character sums mod 10), body is the file id mod 10, the server number mod 10000
// in four digits, five base-62 characters of the local time the URL was made (years since 2000,
// month, day, hour, minute) and the id in base 62. The URL carries the token Base64-encoded
// without line breaks and pair-swapped.
//
// The check digits are sums anyone can recompute: what makes a token unforgeable is the mac,
// HMAC-SHA256 in hex under the installation's key (engine/settings/FileTokenKey.h) over the
// four fields before it. A token whose mac does not verify names no file at all; tokens made
// under another key (an earlier installation, a key removed from the store) stop verifying.

// Base-62 digits "0-9a-zA-Z", most significant first. A negative number gives an empty text;
// 0 gives "0".
std::string EncodeBase62(std::int64_t n);
// Characters outside the alphabet count as 0. Saturates at INT64_MAX instead of overflowing.
std::int64_t DecodeBase62(std::string_view text);

// Adds the unsigned bytes at positions 0, 2, 4, ... to sum1 and those at 1, 3, ... to sum2.
void SumAlternateChars(std::string_view text, std::uint32_t& sum1, std::uint32_t& sum2);

// The number (0 to 32767) of this run of the process, drawn once from the system's random
// source. Tokens made before a restart fail against a new number.
int FileIdServerNumber();
// Replaces the number (the server context draws its own at start-up; tests).
void SetFileIdServerNumber(int number);

// The key tokens are signed with: the settings' "FileTokenKey" when it holds one, else a key
// drawn once for this process (its links then hold until it ends).
CFileTokenKey FileIdTokenKey();

// "fileInDB/" + token + "/" + file name, for the file id read from `fileIdText` (atol, clamped
// to the 32-bit range). Uses the server number, the key and the current local time. Returns an
// empty text for a negative id: such a row cannot be linked.
std::string BuildFileIdUrl(std::string_view table, std::string_view keyColumn,
                           std::string_view fileIdText, std::string_view dataColumn,
                           std::string_view fileName);
// The same with the server number, the time and the key given.
std::string BuildFileIdUrlAt(std::string_view table, std::string_view keyColumn,
                             std::string_view fileIdText, std::string_view dataColumn,
                             std::string_view fileName, int serverNumber, std::time_t now,
                             const CFileTokenKey& key);

// Codes of DecodeFileId.
enum : int {
    kFileIdTooShort = -1,      // fewer than 13 characters
    kFileIdBadCheck = -2,      // a check digit is wrong
    kFileIdOtherServer = -3,   // the server number differs
    kFileIdExpired = -4,       // older than the session time-out
    kFileIdBadLastDigit = -5,  // the id's last digit is wrong (or the id does not fit)
    kFileIdForged = -6,        // the mac does not verify
};

// The file id (0 or more) that the check-and-body text `r` names for the table and columns, or
// a negative code above. Uses the server number, the settings' session time-out (minutes; a
// value outside 0 to 1440 counts as 600) and the current time. Never throws.
int DecodeFileId(std::string_view table, std::string_view keyColumn, std::string_view r,
                 std::string_view dataColumn);
// The same with the server number, time-out and time given.
int DecodeFileIdAt(std::string_view table, std::string_view keyColumn, std::string_view r,
                   std::string_view dataColumn, int serverNumber, int timeoutMinutes,
                   std::time_t now);

// The fields of an attachment URL's token segment (pair swap undone, Base64 decoded, split at
// '-': three fields, then the data column up to the last '-' and the mac after it; missing
// fields are empty).
struct CFileIdToken {
    std::string m_table;
    std::string m_keyColumn;
    std::string m_checkAndBody;
    std::string m_dataColumn;
    std::string m_mac;
};
CFileIdToken SplitFileIdToken(std::string_view token);

// The mac a token with these four fields carries under `key`.
std::string FileIdTokenMac(const CFileIdToken& fields, const CFileTokenKey& key);

// The file id that a token segment names, or a negative code: kFileIdForged unless its mac
// verifies, else the codes of DecodeFileIdAt. The mac is always worked out and compared in
// constant time, whatever else is wrong with the token. `fields` receives the token's fields.
int DecodeFileIdTokenAt(std::string_view token, CFileIdToken& fields, const CFileTokenKey& key,
                        int serverNumber, int timeoutMinutes, std::time_t now);
// The same with this process's server number, key, time-out and time.
int DecodeFileIdToken(std::string_view token, CFileIdToken& fields);
