// Keys of an ODBC connection string ("DSN=zr2;UID=sa").
#pragma once

#include <string>

// The value of `key`: the key (any case) followed by '=' at the start of the text or right
// after a ';' (so "DSN" never matches inside "FILEDSN="); the value runs to the next ';' or
// the end. Empty when the key is missing.
std::string ConnectStringValue(const std::string& connect, const std::string& key);

// Replaces the value of `key` (found as above), the key written as given and the rest kept;
// a missing key is appended as "key=value;" after a ';' unless the text is empty or already
// ends in one.
void SetConnectStringValue(std::string& connect, const std::string& key, const std::string& value);

// The connection string without its "ODBC;" prefix (the first five characters, whatever their
// letters); empty when the text is shorter.
std::string StripOdbcPrefix(const std::string& setting);
