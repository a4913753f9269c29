// Address lists as scripts write them: any run of comma, semicolon, blank,
// double quote, CR, LF or TAB separates two addresses.
#pragma once

#include <string>
#include <vector>

// The non-empty parts of text, in order.
std::vector<std::string> SplitAddresses(const std::string& text);

// The text with every CR and LF replaced by a blank, so that a value cannot
// start a header line of its own.
std::string OneHeaderLine(std::string text);
