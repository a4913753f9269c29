#include "engine/mail/MimeReader.h"

#include <new>
#include <utility>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/QuotedPrintable.h"
#include "engine/mail/MailHeader.h"
#include "engine/settings/MimeMap.h"
#include "engine/web/FormData.h"

namespace {

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

std::string AfterColon(std::string_view field, size_t nameLength) {
    std::string_view rest = field.substr(nameLength);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
        rest.remove_prefix(1);
    }
    return std::string(rest);
}

// Decodes text with the shared codec into out; returns the count of characters consumed.
long AppendBase64(const std::string& text, std::string& out, bool flush) {
    std::string buffer(text.size() + 8, '\0');
    long count = 0;
    long consumed =
        Base64Decode(text.c_str(), buffer.data(), static_cast<long>(buffer.size()), count, flush);
    out.append(buffer.data(), static_cast<size_t>(count));
    return consumed;
}

void AppendQuotedPrintable(std::string_view line, std::string& out) {
    std::string text(line);
    std::string buffer(text.size() + 2, '\0');
    long count = 0;
    QuotedPrintableDecode(text.c_str(), buffer.data(), static_cast<long>(buffer.size()), count,
                          false);
    out.append(buffer.data(), static_cast<size_t>(count));
}

}  // namespace

std::string CMimeMessage::HtmlContent() const {
    if (m_strHtml.empty()) {
        return std::string();
    }
    size_t start = m_nHtmlBodyStart < 0 ? 0 : static_cast<size_t>(m_nHtmlBodyStart);
    if (start > m_strHtml.size()) {
        return std::string();
    }
    size_t length =
        m_nHtmlBodyLength < 0 ? m_strHtml.size() - start : static_cast<size_t>(m_nHtmlBodyLength);
    return m_strHtml.substr(start, length);
}

CMimeReader::CMimeReader(const CMimeMap& mimeMap, CLogWriter& log, std::string path)
    : m_mimeMap(mimeMap), m_log(log), m_strPath(std::move(path)) {}

bool CMimeReader::ReadLine(std::string_view& line) {
    if (AtEnd()) {
        return false;
    }
    size_t lf = m_bytes.find('\n', m_nPos);
    size_t end = lf == std::string_view::npos ? m_bytes.size() : lf;
    line = m_bytes.substr(m_nPos, end - m_nPos);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    m_nPos = lf == std::string_view::npos ? m_bytes.size() : lf + 1;
    return true;
}

void CMimeReader::Parse(std::string_view bytes, CMimeMessage& message) {
    message = CMimeMessage();
    m_bytes = bytes;
    m_nPos = 0;
    ParseHeaderFields(message);
    if (message.m_strFrom.empty()) {
        message.m_strFrom = "Unknown";
    }

    m_nPos = 0;
    ReadPart(std::string(), 0, message);

    if (!message.m_strHtml.empty()) {
        long open = FindHtmlTag(message.m_strHtml, "body", true);
        long start = open >= 0 ? open + 1 : 0;
        // A closing tag before the opening one would give a negative length.
        long close = FindHtmlTag(message.m_strHtml, "/body", false, static_cast<size_t>(start));
        message.m_nHtmlBodyStart = start;
        message.m_nHtmlBodyLength =
            close >= 0 ? close - start : static_cast<long>(message.m_strHtml.size()) - start;
    }
    m_bytes = std::string_view();
}

void CMimeReader::ParseHeaderFields(CMimeMessage& message) {
    std::vector<std::string> fields;
    std::string_view line;
    while (ReadLine(line) && !line.empty()) {
        message.m_strHeaders.append(line);
        message.m_strHeaders.append("\r\n");
        if ((line.front() == ' ' || line.front() == '\t') && !fields.empty()) {
            fields.back().append(line.substr(1));
        } else {
            fields.emplace_back(line);
        }
    }
    for (const std::string& field : fields) {
        if (AsciiStartsWithNoCase(field, "To:")) {
            message.m_strTo = ParseMailAddressList(std::string_view(field).substr(3));
        } else if (AsciiStartsWithNoCase(field, "Cc:")) {
            message.m_strCc = ParseMailAddressList(std::string_view(field).substr(3));
        } else if (AsciiStartsWithNoCase(field, "From:")) {
            ParseMailAddress(std::string_view(field).substr(5), message.m_strFrom,
                             message.m_strFromName);
            message.m_strFromName = DecodeEncodedWords(message.m_strFromName);
        } else if (AsciiStartsWithNoCase(field, "Subject:")) {
            message.m_strSubject = DecodeEncodedWords(AfterColon(field, 8));
        } else if (AsciiStartsWithNoCase(field, "X-Priority:")) {
            size_t digit = field.find_first_of("123456789", 11);
            // Without a digit the message counts as normal priority.
            message.m_strPriority = digit == std::string::npos ? "3" : field.substr(digit, 1);
        } else if (AsciiStartsWithNoCase(field, "X-Mailer:")) {
            message.m_strXMailer = AfterColon(field, 9);
        } else if (AsciiStartsWithNoCase(field, "X-Loop:")) {
            message.m_strXLoop = AfterColon(field, 7);
        }
    }
}

int CMimeReader::ReadPartHeader(PartHeader& header) {
    std::vector<std::string> fields;
    std::string_view line;
    while (ReadLine(line) && !line.empty()) {
        if ((line.front() == ' ' || line.front() == '\t') && !fields.empty()) {
            fields.back().append(line);
        } else {
            fields.emplace_back(line);
        }
    }
    for (const std::string& field : fields) {
        if (AsciiStartsWithNoCase(field, "Content-Type:")) {
            std::string_view rest = std::string_view(field).substr(13);
            header.m_strType = std::string(TrimSpaceTabOrLineBreak(rest.substr(0, rest.find(';'))));
            if (AsciiStartsWithNoCase(header.m_strType, "multipart")) {
                header.m_strBoundary = "--" + MailHeaderParam(field, "boundary");
                if (header.m_strBoundary == "--") {
                    m_log.Log("Multipart message without boundary");
                    return kError;
                }
            } else {
                header.m_strName = MailHeaderParam(field, "name");
            }
        } else if (AsciiStartsWithNoCase(field, "Content-Transfer-Encoding:")) {
            header.m_strEncoding =
                AsciiLowerCopy(TrimSpaceTabOrLineBreak(std::string_view(field).substr(26)));
        } else if (AsciiStartsWithNoCase(field, "Content-Disposition:")) {
            header.m_strName = MailHeaderParam(field, "filename");
        }
    }
    return kNextPart;
}

int CMimeReader::ReadPart(const std::string& boundary, int depth, CMimeMessage& message) {
    PartHeader header;
    if (ReadPartHeader(header) == kError) {
        return kError;
    }
    const std::string& type = header.m_strType;
    if (AsciiEqualNoCase(type, "multipart/alternative") ||
        AsciiEqualNoCase(type, "multipart/mixed") || AsciiEqualNoCase(type, "multipart/related")) {
        if (depth < kMaxNesting) {
            return ReadMultipart(header.m_strBoundary, boundary, depth + 1, message);
        }
        // Nesting this deep is kept whole rather than walked.
        return ReadAttachment(boundary, header, message);
    }
    if (message.m_strContent.empty() && header.m_strName.empty() &&
        (type.empty() || AsciiEqualNoCase(type, "text/plain"))) {
        return ReadDecoded(boundary, header.m_strEncoding, true, message.m_strContent);
    }
    if (message.m_strHtml.empty() && header.m_strName.empty() &&
        AsciiEqualNoCase(type, "text/html")) {
        return ReadDecoded(boundary, header.m_strEncoding, true, message.m_strHtml);
    }
    return ReadAttachment(boundary, header, message);
}

int CMimeReader::ReadMultipart(const std::string& inner, const std::string& enclosing, int depth,
                               CMimeMessage& message) {
    std::string_view line;
    while (ReadLine(line) && line != inner) {
    }
    while (!AtEnd()) {
        // An error inside a part ends the walk of this multipart only.
        if (ReadPart(inner, depth, message) != kNextPart) {
            break;
        }
    }
    if (enclosing.empty()) {
        return kLastPart;
    }
    std::string closing = enclosing + "--";
    while (ReadLine(line)) {
        if (line == enclosing) {
            return kNextPart;
        }
        if (line == closing) {
            return kLastPart;
        }
    }
    return kLastPart;
}

int CMimeReader::LineTooLong() {
    m_log.Log("%s lines too long.", m_strPath.c_str());
    return kError;
}

int CMimeReader::ReadDecoded(const std::string& boundary, const std::string& encoding, bool isBody,
                             std::string& target) {
    target.clear();
    const bool quoted = !encoding.empty() && encoding[0] == 'q';
    const bool base64 = encoding == "base64";
    const std::string closing = boundary.empty() ? std::string() : boundary + "--";
    std::string carry;
    int result = kLastPart;
    std::string_view line;
    while (ReadLine(line)) {
        if (!boundary.empty()) {
            if (line == boundary) {
                result = kNextPart;
                break;
            }
            if (line == closing) {
                break;
            }
        }
        if (quoted) {
            if (line.size() > kMaxEncodedLine) {
                return LineTooLong();
            }
            AppendQuotedPrintable(line, target);
            if (line.empty() || line.back() != '=') {
                target.append("\r\n");
            }
        } else if (base64) {
            carry.append(line);
            if (carry.size() > kMaxEncodedLine) {
                return LineTooLong();
            }
            long consumed = AppendBase64(carry, target, false);
            carry.erase(0, static_cast<size_t>(consumed));
            // Only alphabet characters carry over; the codec skips the rest anyway.
            std::erase_if(carry, [](char c) { return !IsBase64Char(c); });
        } else {
            target.append(line);
            target.append("\r\n");
        }
    }
    if (base64 && !carry.empty()) {
        AppendBase64(carry, target, true);
    }
    if (isBody) {
        target.resize(TrimSpaceTabOrLineBreakRight(target).size());
    }
    return result;
}

int CMimeReader::ReadAttachment(const std::string& boundary, const PartHeader& header,
                                CMimeMessage& message) {
    CMailAttachment attachment;
    if (!header.m_strName.empty()) {
        // The name comes from the sender: never a path, never a folder's name.
        attachment.m_strName = CFormData::UploadFileName(header.m_strName);
    } else if (AsciiEqualNoCase(header.m_strType, "message/rfc822")) {
        attachment.m_strName = "Unknown.eml";
    } else {
        std::string extension = m_mimeMap.ExtensionForType(header.m_strType);
        if (extension.empty() && AsciiEqualNoCase(header.m_strType, "text/html")) {
            extension = "html";
        }
        attachment.m_strName = extension.empty() ? "Unknown" : "Unknown." + extension;
    }
    message.m_attachments.push_back(std::move(attachment));
    CMailAttachment& added = message.m_attachments.back();
    try {
        size_t size = MeasurePart(boundary);
        if (size > 0) {
            if (m_allocator) {
                m_allocator(added.m_data, size);
            } else {
                added.m_data.reserve(size);
            }
        }
        return ReadDecoded(boundary, header.m_strEncoding, false, added.m_data);
    } catch (const std::bad_alloc&) {
        // The message stays readable up to here; only this walk ends.
        m_log.Log("Failed to allocate buffer for attachment %s", added.m_strName.c_str());
        return kError;
    }
}

size_t CMimeReader::MeasurePart(const std::string& boundary) {
    const size_t start = m_nPos;
    const std::string closing = boundary.empty() ? std::string() : boundary + "--";
    size_t end = m_bytes.size();
    size_t lines = 0;
    size_t lineStart = m_nPos;
    std::string_view line;
    while (ReadLine(line)) {
        if (!boundary.empty() && (line == boundary || line == closing)) {
            end = lineStart;
            break;
        }
        ++lines;
        lineStart = m_nPos;
    }
    m_nPos = start;
    // A line kept as it is may gain a CR before its LF.
    return end - start + lines;
}
