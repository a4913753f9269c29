#include "engine/web/HttpResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/HtmlCodec.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UrlCodec.h"
#include "engine/foundation/WriteAll.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspObject.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/StaticFileCache.h"

namespace {

// The Date text of a second, kept while the second lasts: formatting it is the dearest part
// of a head.
const std::string& HttpDate(int64_t time) {
    thread_local int64_t formatted = -1;
    thread_local std::string text;
    if (time != formatted) {
        text = CSspDateTime(time).GetHttpDateTimeStr();
        formatted = time;
    }
    return text;
}

}  // namespace

CHttpResponse::CHttpResponse(CSocketConn* conn) : m_conn(conn) {}

CHttpResponse::~CHttpResponse() {
    CloseOutput();
    if (m_fileMade) {
        unlink(m_outputPath.c_str());
    }
}

void CHttpResponse::SetOutputBuffer(std::string* buffer) {
    m_buffer = buffer;
    if (m_buffer == nullptr) {
        return;
    }
    m_buffer->clear();
    // Only output whose file could not be made grows past the spill size: give that back.
    if (m_buffer->capacity() > 2 * kSpillSize) {
        m_buffer->shrink_to_fit();
    }
}

const std::string& CHttpResponse::GetOutputFile() {
    if (m_buffer != nullptr && m_created && !m_closed && !InFile() && !m_spillFailed &&
        !m_outputLost) {
        MoveToFile();
    }
    return m_outputPath;
}

bool CHttpResponse::MoveToFile() {
    m_fd.Reset(open(m_outputPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, kGroupFileMode));
    if (!InFile()) {
        g_log.Log("%s [%s]. %s", "Failed to create output file.", m_outputPath.c_str(),
                  SystemErrorText(errno).c_str());
        return false;
    }
    m_fileMade = true;
    m_fileSize = 0;
    if (m_buffer != nullptr && !m_buffer->empty()) {
        if (!WriteAll(m_fd.Get(), m_buffer->data(), m_buffer->size())) {
            LogWriteFailure();
            DropFile();
            return false;  // the buffer still holds everything
        }
        m_fileSize = m_buffer->size();
        m_buffer->clear();
    }
    return true;
}

void CHttpResponse::LogWriteFailure() {
    g_log.Log("%s [%s]. %s", "Failed to write output file.", m_outputPath.c_str(),
              SystemErrorText(errno).c_str());
}

void CHttpResponse::DropFile() {
    m_fd.Reset();
    unlink(m_outputPath.c_str());
    m_fileMade = false;
    m_fileSize = 0;
    // A disk that failed once is not tried again for this page.
    m_spillFailed = true;
}

bool CHttpResponse::FallBackToMemory() {
    if (m_buffer == nullptr) {
        m_buffer = &m_ownBuffer;
    }
    bool kept = m_fileSize <= m_memoryLimit;
    try {
        if (kept) {
            m_buffer->resize(static_cast<size_t>(m_fileSize));
        }
    } catch (const std::bad_alloc&) {
        kept = false;
    }
    for (size_t got = 0; kept && got < m_fileSize;) {
        ssize_t n =
            pread(m_fd.Get(), m_buffer->data() + got, m_fileSize - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        kept = n > 0;
        got += kept ? static_cast<size_t>(n) : 0;
    }
    DropFile();
    if (!kept) {
        LoseOutput();
    }
    return kept;
}

void CHttpResponse::KeepInMemory(const char* bytes, size_t length) {
    if (m_buffer->size() + length > m_memoryLimit) {
        LoseOutput();
        return;
    }
    try {
        m_buffer->append(bytes, length);
    } catch (const std::bad_alloc&) {
        LoseOutput();
    }
}

void CHttpResponse::LoseOutput() {
    if (!m_outputLost) {
        g_log.Log("%s [%s]", "The page's output could be kept neither on disk nor in memory.",
                  m_outputPath.c_str());
    }
    m_outputLost = true;
    m_buffer->clear();
    m_buffer->shrink_to_fit();
}

bool CHttpResponse::OpenOutput() {
    if (m_created) {
        return !m_closed;
    }
    if (m_buffer == nullptr && !MoveToFile()) {
        return false;
    }
    m_created = true;
    m_closed = false;
    return true;
}

void CHttpResponse::WriteText(std::string_view text) {
    if (WriteOutput(text.data(), text.size())) {
        CSspDebugHooks::Echo(text);
    }
}

void CHttpResponse::WriteBinary(const void* data, size_t length) {
    if (WriteOutput(data, length) && CSspDebugHooks::Current() != nullptr) {
        char note[48];
        snprintf(note, sizeof note, "%d bytes of binary data", static_cast<int>(length));
        CSspDebugHooks::Echo(note);
    }
}

bool CHttpResponse::WriteOutput(const void* data, size_t length) {
    if (m_clientGone && m_conn != nullptr && m_conn->HasPeerLeft()) {
        m_clientGone();
    }
    if (!OpenOutput()) {
        return false;
    }
    if (m_outputLost) {
        return true;  // the answer is an error now, whatever follows
    }
    const char* bytes = static_cast<const char*>(data);
    // A file that cannot be made or written keeps the output in memory: nothing written is
    // lost.
    if (!InFile() && (m_buffer->size() + length <= kSpillSize || m_spillFailed || !MoveToFile())) {
        KeepInMemory(bytes, length);
        return true;
    }
    if (!WriteAll(m_fd.Get(), bytes, length)) {
        LogWriteFailure();
        if (FallBackToMemory()) {
            KeepInMemory(bytes, length);
        }
        return true;
    }
    m_fileSize += length;
    return true;
}

void CHttpResponse::WriteValue(const CSspValue& value) {
    if (!value.IsDateTime() || value.IsNull()) {
        WriteText(value.GetText());
        return;
    }
    CSspDateTime time(value.GetDateTime());
    std::string text;
    if (m_dateMode == "0") {
        text = time.GetDateTimeStr();
    } else if (m_dateMode == "1") {
        text = time.GetDateTimeStr2();
    } else if (m_dateMode == "2") {
        text = time.GetDateStr();
    } else if (m_dateMode == "3") {
        text = time.GetDateStr2();
    } else if (m_dateMode == "4") {
        text = time.GetTimeStr();
    } else {
        text = time.Format(m_dateMode);
        if (text.size() > 127) {
            text.clear();
        }
    }
    WriteText(text);
}

void CHttpResponse::CloseOutput() {
    if (m_created && !m_closed) {
        m_fd.Reset();
        m_closed = true;
    }
}

std::string CHttpResponse::ReadOutput() {
    if (!m_created || m_closed) {
        return std::string();
    }
    if (!InFile()) {
        return *m_buffer;
    }
    struct stat st {};
    if (fstat(m_fd.Get(), &st) != 0 || st.st_size <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < out.size()) {
        ssize_t n = pread(m_fd.Get(), out.data() + got, out.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return out;
}

void CHttpResponse::ClearOutput() {
    if (m_created && !m_closed && m_buffer != nullptr) {
        m_buffer->clear();
    }
    if (m_created && !m_closed) {
        m_outputLost = false;  // what was lost is cleared too
    }
    if (m_created && !m_closed && InFile()) {
        m_fileSize = 0;
        if (ftruncate(m_fd.Get(), 0) != 0 || lseek(m_fd.Get(), 0, SEEK_SET) < 0) {
            g_log.Log("%s [%s]. %s", "Failed to clear output file.", m_outputPath.c_str(),
                      SystemErrorText(errno).c_str());
        }
    }
}

bool CHttpResponse::AddCookie(const std::string& name, const std::string& value,
                              const std::string& path, const std::string& expires) {
    for (const std::string* field : {&name, &path, &expires}) {
        if (field->find(';') != std::string::npos) {
            return false;
        }
    }
    m_cookies.push_back({name, value, expires, path});
    return true;
}

void CHttpResponse::AddCookie(CCookie cookie) {
    m_cookies.push_back(std::move(cookie));
}

std::string CHttpResponse::GetCookie(std::string_view name) const {
    for (const CCookie& cookie : m_cookies) {
        if (AsciiEqualNoCase(cookie.m_name, name)) {
            return cookie.m_value;
        }
    }
    return std::string();
}

bool CHttpResponse::AddHeader(std::string_view text) {
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        return false;
    }
    if (!text.empty()) {
        m_extraHeaders.emplace_back(text);
    }
    return true;
}

void CHttpResponse::SetContentType(std::string_view type) {
    m_contentType = WithoutLineBreaks(type);
}

void CHttpResponse::SetCharset(std::string_view charset) {
    m_charset = WithoutLineBreaks(charset);
}

std::string CHttpResponse::GetContentType(const std::string& filePath) {
    return g_settings.m_mimeMap.ContentTypeForFile(filePath);
}

std::string CHttpResponse::BuildDateHeaders() const {
    int64_t now = CSspDateTime::Now();
    const std::string& date = HttpDate(now);
    std::string out = "Date: " + date + "\r\n";
    if (m_expires == 0 || m_expires == -1) {
        out += "Expires: " + date + "\r\n";
    } else if (m_expires > 0) {
        int64_t later = now + static_cast<int64_t>(m_expires) * 60;
        out += "Expires: " + CSspDateTime(later).GetHttpDateTimeStr() + "\r\n";
    }
    return out;
}

std::string CHttpResponse::BuildCookieHeaders() const {
    std::string out;
    for (const CCookie& cookie : m_cookies) {
        out += "Set-Cookie: " + WithoutLineBreaks(cookie.m_name) + "=" + UrlEncode(cookie.m_value);
        std::string path = WithoutLineBreaks(cookie.m_path);
        if (path.find_first_not_of(' ') != std::string::npos) {
            out += "; path=" + path;
        }
        std::string expires = WithoutLineBreaks(cookie.m_expires);
        if (!expires.empty()) {
            out += "; expires=" + expires;
        }
        if (cookie.m_httpOnly) {
            out += "; HttpOnly";
        }
        if (cookie.m_secure) {
            out += "; Secure";
        }
        out += "\r\n";
    }
    return out;
}

std::string CHttpResponse::BuildExtraHeaders() const {
    std::string out;
    for (const std::string& line : m_extraHeaders) {
        out += line + "\r\n";
    }
    return out;
}

int CHttpResponse::Send(const std::string& filePath, bool drainInput) {
    if (m_conn == nullptr) {
        return 0;
    }
    if (drainInput) {
        m_conn->DrainInput();
    }
    if (m_fileCache != nullptr) {
        struct stat now {};
        if (stat(filePath.c_str(), &now) == 0 && S_ISREG(now.st_mode)) {
            if (const std::string* bytes = m_fileCache->Find(filePath, now)) {
                SendHeld(filePath, *bytes);
                return 1;
            }
        }
    }
    // Non-blocking, so that a FIFO cannot hold the thread before fstat refuses it.
    CUniqueFd fd(open(filePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    int error = errno;
    struct stat st {};
    if (fd.Get() >= 0 && (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd.Reset();
        error = ENOENT;
    }
    if (fd.Get() < 0) {
        // The path comes from the URL: it is shown, never interpreted as HTML.
        std::string text = filePath + " : " + FormatSystemError(error);
        HtmlEscape(text, false);
        SendErrorBody(text);
        return 0;
    }
    if (m_fileCache != nullptr) {
        if (const std::string* bytes = m_fileCache->Load(filePath, fd.Get(), st)) {
            SendHeld(filePath, *bytes);
            return 1;
        }
    }
    std::string head = BuildPageHead(filePath, static_cast<uint64_t>(st.st_size));
    m_conn->SendFile(head, fd.Get(), 0, static_cast<uint64_t>(st.st_size));
    return 1;
}

void CHttpResponse::SendHeld(const std::string& filePath, const std::string& bytes) {
    std::string answer = BuildPageHead(filePath, bytes.size());
    answer += bytes;
    m_conn->SendBeforeClose(answer);
}

std::string CHttpResponse::BuildPageHead(const std::string& filePath, uint64_t length) const {
    std::string type = m_contentType.empty() ? GetContentType(filePath) : m_contentType;
    std::string head = "HTTP/1.0 200 OK\r\n" + BuildDateHeaders() + BuildCookieHeaders() +
                       BuildExtraHeaders() + "Content-Type: " + type;
    if (!m_charset.empty()) {
        head += "; charset=" + m_charset;
    } else if (!g_settings.MimeTextEncoding.empty() && AsciiStartsWithNoCase(type, "text/")) {
        head += "; charset=" + WithoutLineBreaks(g_settings.MimeTextEncoding);
    }
    head += "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    // The studio shows the head of every answer, from memory or from a file.
    if (CSspDebugHooks::Current() != nullptr) {
        CSspDebugHooks::Echo(std::string(g_msg.m_responseHeaderBanner) + head);
    }
    return head;
}

void CHttpResponse::Finish() {
    if (!m_created) {
        return;
    }
    CloseOutput();
    if (m_outputLost) {
        // A page that was not produced whole is no success.
        SendErrorBody(g_msg.m_outputLost, "500 Internal Server Error");
        return;
    }
    if (m_fileMade) {
        Send(m_outputPath);
        return;
    }
    if (m_conn == nullptr) {
        return;
    }
    m_conn->DrainInput();
    // The head goes in front of the body, so that both leave in one send.
    m_buffer->insert(0, BuildPageHead(m_outputPath, m_buffer->size()));
    m_conn->Send(*m_buffer);
}

void CHttpResponse::Redirect(const std::string& location, bool permanent) {
    if (m_conn == nullptr) {
        return;
    }
    std::string target;
    for (char c : location) {
        if (c == '\r' || c == '\n') {
            target += '%' + ByteToHex(static_cast<unsigned char>(c));
        } else {
            target += c;
        }
    }
    std::string text = std::string("HTTP/1.0 ") + (permanent ? "301" : "302 Moved Temporarily") +
                       "\r\nLocation: " + target + "\r\n" + BuildCookieHeaders() +
                       "Content-Length: 0\r\n\r\n";
    m_conn->Send(text);
}

void CHttpResponse::SendErrorBody(const std::string& body, const char* status) {
    if (m_conn == nullptr) {
        return;
    }
    std::string page =
        "<HTML>\r\n<HEAD><TITLE>Error</TITLE></HEAD>\r\n<BODY>" + body + "</BODY>\r\n</HTML>\r\n";
    std::string text =
        std::string("HTTP/1.0 ") + status +
        "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
        "\r\n\r\n" + page;
    m_conn->Send(text);
}

void CHttpResponse::SendHtmlError(const std::string& text) {
    SendErrorBody(
        "<center>\r\n<table width=\"80%\">\r\n  <tr><th bgcolor=\"#FF0000\"><font "
        "color=black>\r\n    Error\r\n  </font></th></tr>\r\n  <tr><td bgcolor=white><font "
        "color=black>\r\n    " +
        text +
        "\r\n  </font></td></tr>\r\n  <tr bgcolor=\"#6699cc\"><td align=center>\r\n    Please "
        "click browser's back button to go back.\r\n  </td></tr>\r\n</table>\r\n</center>");
}

namespace {

int LeadingInt(const std::string& text) {
    long long value = 0;
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) {
        return 0;
    }
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<long long>(value * 10 + (text[i] - '0'), INT32_MAX);
    }
    return static_cast<int>(negative ? -value : value);
}

using CSelf = CHttpResponse;

void Redirect(CSelf& self, CSspCall& call, CSspValue&) {
    self.Redirect(call.GetParamStr(0), false);
}
void Write(CSelf& self, CSspCall& call, CSspValue&) {
    self.WriteValue(call.Arg(0));
}
void Expires(CSelf& self, CSspCall& call, CSspValue&) {
    self.SetExpires(LeadingInt(call.GetParamStr(0)));
}
void ContentType(CSelf& self, CSspCall& call, CSspValue&) {
    self.SetContentType(call.GetParamStr(0));
}
void Charset(CSelf& self, CSspCall& call, CSspValue&) {
    self.SetCharset(call.GetParamStr(0));
}
void DateTimeOutputFormat(CSelf& self, CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(self.GetDateOutputMode());
    self.SetDateOutputMode(call.GetParamStr(0));
}
void AddHeader(CSelf& self, CSspCall& call, CSspValue&) {
    if (call.ArgCount() < 1) {
        throw CSspException(g_msg.m_addHeaderMissingParam, call.m_pPos);
    }
    if (!self.AddHeader(call.GetParamStr(0))) {
        throw CSspException(g_msg.m_addHeaderLineBreak, call.m_pPos);
    }
}
void SetCookie(CSelf& self, CSspCall& call, CSspValue&) {
    if (!self.AddCookie(call.GetParamStr(0), call.GetParamStr(1),
                        call.ArgCount() > 2 ? call.GetParamStr(2) : std::string(),
                        call.ArgCount() > 3 ? call.GetParamStr(3) : std::string())) {
        throw CSspException(g_msg.m_setCookieSemicolon, call.m_pPos);
    }
}
void Error(CSelf& self, CSspCall&, CSspValue& result) {
    result = CSspValue::FromText(self.GetErrorText());
}
void Content(CSelf& self, CSspCall&, CSspValue& result) {
    result = CSspValue::FromText(self.ReadOutput());
}
void Clear(CSelf& self, CSspCall&, CSspValue&) {
    self.ClearOutput();
}

constexpr int kAny = kSspAnyArgs;
// AddHeader checks its own argument: it has its own text for a missing one.
constexpr CSspMemberRow<CSelf&> kResponseMembers[] = {
    {"redirect", 1, kAny, &Redirect},   {"write", 1, kAny, &Write},
    {"Expires", 1, kAny, &Expires},     {"ContentType", 1, kAny, &ContentType},
    {"Charset", 1, kAny, &Charset},     {"DateTimeOutputFormat", 1, kAny, &DateTimeOutputFormat},
    {"AddHeader", 0, kAny, &AddHeader}, {"setCookie", 2, kAny, &SetCookie},
    {"error", 0, kAny, &Error},         {"content", 0, kAny, &Content},
    {"clear", 0, kAny, &Clear},
};

}  // namespace

// Every member gives 1 unless it gives a value of its own.
void CHttpResponse::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    const auto* row = FindSspMemberRow(kResponseMembers, call.m_strMember);
    if (row == nullptr) {
        ThrowUnknownSspMember(call, g_msg.m_unknownResponseField);
    }
    CheckSspArgCount(call, row->m_minArgs, row->m_maxArgs);
    result = CSspValue::FromInteger(1);
    row->m_handler(*this, call, result);
}
