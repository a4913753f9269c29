// The MIME reader of email_in: a line-oriented walk over one stored message
// that fills a CMimeMessage with the header fields, the plain and HTML
// bodies and the attachments. Lines end at LF (a CR before it is dropped);
// any byte sequence is safe input, and multipart nesting deeper than
// kMaxNesting levels is kept as attachments instead of walked.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CLogWriter;
class CMimeMap;

struct CMailAttachment {
    std::string m_strName;  // as sent, cut to a plain file name
    std::string m_data;     // decoded bytes
};

struct CMimeMessage {
    std::string m_strTo;        // "To:" addresses joined with ", "
    std::string m_strCc;        // "Cc:" addresses joined with ", "
    std::string m_strFrom;      // "Unknown" when the message names no sender
    std::string m_strFromName;  // encoded words decoded
    std::string m_strPriority = "3";
    std::string m_strXMailer;
    std::string m_strXLoop;
    std::string m_strSubject;     // encoded words decoded
    std::string m_strContent;     // plain body, trailing white space removed
    std::string m_strHeaders;     // the header block's lines as stored, each + CR LF
    std::string m_strHtml;        // the whole HTML body part
    long m_nHtmlBodyStart = -1;   // offset after the opening body tag
    long m_nHtmlBodyLength = -1;  // length up to the closing body tag
    std::vector<CMailAttachment> m_attachments;

    // The HTML text between the body tags; all of it without a body tag; empty
    // without an HTML part.
    std::string HtmlContent() const;
};

class CMimeReader {
public:
    static constexpr int kMaxNesting = 20;
    // Encoded lines (quoted-printable, Base64) longer than this stop the walk.
    static constexpr size_t kMaxEncodedLine = 80;

    // path names the message in log lines; types of unnamed attachments are
    // looked up in mimeMap.
    CMimeReader(const CMimeMap& mimeMap, CLogWriter& log, std::string path);

    // Parses the message bytes into message (replacing what it held). A walk
    // that fails halfway keeps what was read before the failure and logs why;
    // an attachment that finds no memory is such a failure.
    void Parse(std::string_view bytes, CMimeMessage& message);

    // Makes room for bytes in an attachment's block, throwing std::bad_alloc
    // when there is none. By default the block's own reserve; tests inject
    // failures here.
    using Allocator = std::function<void(std::string& block, size_t bytes)>;
    void SetAllocator(Allocator allocator) { m_allocator = std::move(allocator); }

private:
    struct PartHeader {
        std::string m_strType;
        std::string m_strBoundary;  // "--" + the boundary parameter
        std::string m_strEncoding;  // lower-cased
        std::string m_strName;
    };
    enum Result { kNextPart = 0, kLastPart = 1, kError = 2 };

    bool AtEnd() const { return m_nPos >= m_bytes.size(); }
    // The next line without its line end; false at the end of the bytes.
    bool ReadLine(std::string_view& line);
    void ParseHeaderFields(CMimeMessage& message);
    int ReadPart(const std::string& boundary, int depth, CMimeMessage& message);
    int ReadPartHeader(PartHeader& header);
    int ReadMultipart(const std::string& inner, const std::string& enclosing, int depth,
                      CMimeMessage& message);
    // Reads and decodes the part's lines into target up to the boundary.
    int ReadDecoded(const std::string& boundary, const std::string& encoding, bool isBody,
                    std::string& target);
    int ReadAttachment(const std::string& boundary, const PartHeader& header,
                       CMimeMessage& message);
    // Bytes the part's decoded lines can take at most, up to the boundary;
    // the read position stays.
    size_t MeasurePart(const std::string& boundary);
    int LineTooLong();

    const CMimeMap& m_mimeMap;
    CLogWriter& m_log;
    std::string m_strPath;
    std::string_view m_bytes;
    size_t m_nPos = 0;
    Allocator m_allocator;
};
