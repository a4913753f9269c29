#pragma once

#include <string>

// Where an error position lies in a run's text: 1-based line and column (bytes since the last
// line feed; a CR counts) and the text of that line up to its CR or LF.
struct CSspErrorLocation {
    int m_line = 0;
    int m_column = 0;
    std::string m_lineText;
};

// The location of `pos` in [begin, end]; the line text may run on to `textEnd` (the end of
// the file around a function body), by default `end`. REQUIRES: begin <= pos <= end.
CSspErrorLocation LocateSspError(const char* begin, const char* end, const char* pos,
                                 const char* textEnd = nullptr);

// The error text of a run: "<path> (<line>,<column>): \r\n<line text>\r\n\r\n<message>", the
// message with every "%" doubled unless `escaped` says it is an error text made here already
// (a called function's); without a position inside [begin, end] the message as it is.
std::string FormatSspError(const std::string& path, const char* begin, const char* end,
                           const char* pos, const std::string& message, bool escaped = false,
                           const char* textEnd = nullptr);
