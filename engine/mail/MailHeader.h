// Reading the header fields of a stored mail: addresses and display names,
// address lists, RFC 2047 encoded words, parameters of structured fields and
// tags of an HTML body. Pure functions over 8-bit text; nothing is re-encoded.
#pragma once

#include <string>
#include <string_view>

// One address and its display name from a field such as
// "\"John Doe\" <jd@x.org>", "jd@x.org (John Doe)" or "jd@x.org". Without a
// name in the text the name is the address's part before "@".
void ParseMailAddress(std::string_view text, std::string& address, std::string& name);

// The addresses of a "To:" or "Cc:" field joined with ", ". Items are split
// at ',' and ';' outside double quotes; empty items are skipped.
std::string ParseMailAddressList(std::string_view text);

// Replaces every "=?iso-...?B?...?=" or "=?iso-...?Q?...?=" word (the charset
// prefix in any case) by its decoded bytes; the character set is not
// converted. Words in other character sets are left alone. Decoding stops at
// a word without its closing "?=", an unknown encoding or a word that decodes
// to nothing.
std::string DecodeEncodedWords(std::string_view text);

// The value of parameter key ("boundary", "name", "filename") in a field:
// the key followed by "=" is found anywhere without regard to case; a quoted
// value runs to its closing quote, an unquoted one to ';', a blank, a TAB,
// CR or LF. Trimmed; empty when the key is missing.
std::string MailHeaderParam(std::string_view field, std::string_view key);

// Offset of the first HTML tag `name` ("body", "/body") at or after from:
// a '<' followed by the name (any case) and then white space or '>'. With
// atClose the offset of the tag's closing '>'. -1 when there is none.
long FindHtmlTag(std::string_view html, std::string_view name, bool atClose, size_t from = 0);
