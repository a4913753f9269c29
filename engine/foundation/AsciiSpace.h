// The three kinds of blank the engine's texts are cut at, whatever the locale. Each caller
// keeps the kind its format has always used, so a line break or a form feed stays part of a
// value wherever it used to.
#pragma once

#include <string>
#include <string_view>

// The blanks within a line: space and tab.
constexpr bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

// Space, tab, CR and LF: what separates the words of SQL, mail header fields and script.
constexpr bool IsSpaceTabOrLineBreak(char c) {
    return IsSpaceOrTab(c) || c == '\r' || c == '\n';
}

// What isspace means in the C locale: space, \t, \n, \v, \f and \r.
constexpr bool IsAsciiSpace(char c) {
    return IsSpaceTabOrLineBreak(c) || c == '\v' || c == '\f';
}

// The text without the blanks of one kind at both ends.
std::string_view TrimSpaceOrTab(std::string_view text);
std::string_view TrimSpaceTabOrLineBreak(std::string_view text);
std::string_view TrimAsciiSpace(std::string_view text);

// The text without the blanks of one kind at its end only.
std::string_view TrimSpaceTabOrLineBreakRight(std::string_view text);
std::string_view TrimAsciiSpaceRight(std::string_view text);

// The text with every CR and LF taken out.
std::string WithoutLineBreaks(std::string_view text);
