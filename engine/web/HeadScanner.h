// Finds the end of a request head in bytes as they arrive, by the line rules of the request
// reader (CSocketConn::ReadLine): CR LF ends a line, CR with any other byte drops both, a
// lone LF is an ordinary byte. The head ends with its first empty line, or with the request
// line itself when it is empty or a console command (the console may send no header block).
// On the way it notes what the reader will make of a POST's Content-Length, so that a small
// body can be waited for as well, and whether a line holds a NUL (the reader then refuses the
// head and reads no body).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CHeadScanner {
public:
    // Scans more bytes; true once the head is complete (later bytes are not looked at).
    bool Feed(std::string_view bytes);
    bool IsComplete() const { return m_complete; }
    // Bytes of the head, the line that ends it included; valid once complete.
    size_t HeadSize() const { return m_consumed; }
    // The body length a POST announced, or -1 (not a POST, no usable Content-Length, or a head
    // that holds a NUL).
    int64_t PostBodyLength() const;

private:
    void EndLine();

    bool m_complete = false;
    bool m_afterCr = false;
    bool m_firstLine = true;
    bool m_post = false;
    bool m_holdsNul = false;
    int64_t m_contentLength = -1;
    size_t m_consumed = 0;
    size_t m_stored = 0;  // characters of the current line
    std::string m_line;   // its first kKeptChars characters
};
