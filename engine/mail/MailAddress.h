// Address lists as scripts and outbox files write them, read the one way that
// every sender of mail shares: "Name <addr>", "\"Last, First\" <addr>",
// "addr (comment)" and a bare "addr". Elements are separated by ',' or ';'
// outside quotes, comments and angle brackets; an element of several bare
// addresses separated by white space ("a@x b@y", as older queues hold) gives
// each of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct CMailAddress {
    std::string m_strAddress;  // what goes between the angle brackets of MAIL and RCPT
    std::string m_strName;     // display name as written, unquoted; may be empty
};

struct CMailAddressList {
    std::vector<CMailAddress> m_addresses;
    // Elements that are not an address, trimmed, in order.
    std::vector<std::string> m_bad;
};

CMailAddressList ParseMailAddresses(std::string_view text);

// True for local-part "@" domain: a dot-atom or a quoted string before the
// '@', a dot-atom or a bracketed literal after it. Bytes above 127 count as
// letters, so internationalised addresses pass.
bool IsAddrSpec(std::string_view text);

// The display name as a header holds it: as it is when it is plain words,
// quoted when it holds anything else, RFC 2047 encoded words (UTF-8, Base64)
// when it holds non-ASCII bytes.
std::string DisplayNameForHeader(std::string_view name);

// "name <addr>", or just addr without a name.
std::string AddressForHeader(const CMailAddress& address);

// The addresses joined with ", ", folded onto continuation lines so that no
// line passes 78 characters where that can be avoided. `used` is the length
// of the line before the value ("To: " is 4).
std::string AddressListForHeader(const std::vector<CMailAddress>& addresses, size_t used);

// The text with every CR and LF replaced by a blank, so that a value cannot
// start a header line of its own.
std::string OneHeaderLine(std::string text);
