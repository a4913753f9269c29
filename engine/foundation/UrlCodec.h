// The URL text functions of the form reader, the response's cookies and the script's To object.
#pragma once

#include <string>
#include <string_view>

// Exactly two characters, upper-cased: each digit gives its value and any other character
// its code minus 55 ("A"-"F" give 10-15); any other length gives '?'.
char HexPairToByte(std::string_view pair);

// The value of one hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);

// The byte in lower-case hexadecimal, always two digits.
std::string ByteToHex(unsigned char byte);

// Every '+' becomes a blank; then "%" and the two characters after it become the byte
// HexPairToByte makes of them; a '%' with fewer than two characters after it stays.
std::string UrlDecode(std::string_view text);

// CR, LF and the bytes 0x21-0x29, 0x2B, 0x2C, 0x2F, 0x3A-0x3F, 0x5B-0x5E, 0x60, 0x7B-0x7E
// become "%" and two lower-case hex digits, then blanks become '+'; every other byte (above
// 127 included) stays.
std::string UrlEncode(std::string_view text);
