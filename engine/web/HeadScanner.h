// Finds the end of a request head in bytes as they arrive, by the line rules of the request
// reader (CSocketConn::ReadLine): CR LF ends a line, CR with any other byte drops both, a
// lone LF is an ordinary byte. The head ends with its first empty line, or with the request
// line itself when it is empty or a console command (the console may send no header block).
#pragma once

#include <string>
#include <string_view>

class CHeadScanner {
public:
    // Scans more bytes; true once the head is complete (later bytes are not looked at).
    bool Feed(std::string_view bytes);
    bool IsComplete() const { return m_complete; }

private:
    void EndLine();

    bool m_complete = false;
    bool m_afterCr = false;
    bool m_firstLine = true;
    bool m_methodDone = false;
    size_t m_stored = 0;   // characters of the current line
    std::string m_method;  // the request line's first word
};
