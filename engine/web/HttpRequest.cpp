#include "engine/web/HttpRequest.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <new>
#include <vector>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FoldedLog.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/foundation/UrlCodec.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspObject.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/ConsoleCommandHandler.h"

namespace {

constexpr const char* kInvalidAddressText = "Invalid HTTP address.";
constexpr const char* kServerErrorText = "Server Error.";
// How much of an over-long header line the log keeps.
constexpr size_t kLoggedHeaderBytes = 200;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return SspNameEquals(a, b);
}

std::vector<std::string_view> Split(std::string_view text, std::string_view delimiters) {
    std::vector<std::string_view> words;
    size_t pos = 0;
    while ((pos = text.find_first_not_of(delimiters, pos)) != std::string_view::npos) {
        size_t end = text.find_first_of(delimiters, pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        words.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return words;
}

// atoi without its undefined overflow: leading digits, saturated.
int LeadingInt(std::string_view text) {
    long long value = 0;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = INT_MAX;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

// A Content-Length is digits only and fits in 63 bits; anything else counts as missing.
bool ParseLength(std::string_view word, int64_t& length) {
    if (word.empty() || word.size() > 19) {
        return false;
    }
    uint64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    length = static_cast<int64_t>(value);
    return true;
}

bool HasControlByte(std::string_view line) {
    for (char c : line) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

CHttpRequest::CHttpRequest(CSocketConn* conn) : m_conn(conn), m_rootFolder(g_rootDir) {}

CHttpRequest::~CHttpRequest() = default;

bool CHttpRequest::IsPost() const {
    return EqualsNoCase(m_method, "POST");
}

CHttpRequest::EReadResult CHttpRequest::ReadRequest() {
    if (m_conn == nullptr) {
        return EReadResult::kNoConnection;
    }
    if (m_conn->GetTimeout() > 0) {
        m_conn->SetDeadline(std::chrono::steady_clock::now() +
                            std::chrono::seconds(m_conn->GetTimeout()));
    }
    const EReadResult result = ReadHeader();
    m_conn->ClearDeadline();
    if (result != EReadResult::kOk) {
        return result;
    }
    if (m_invalidAddress) {
        return EReadResult::kInvalidAddress;
    }
    if (!IsPost()) {
        return EReadResult::kOk;
    }
    return ReadBody();
}

void CHttpRequest::HintHttpsOnPlainPort(std::string_view firstBytes) {
    if (!firstBytes.empty() && CSspDebugHooks::Current() != nullptr &&
        std::string_view("GgPp").find(firstBytes[0]) == std::string_view::npos) {
        g_log.Log("%s",
                  "\r\nYou may be trying to access this regular web server using "
                  "https://.... Try using http://... in your browser.");
    }
}

CHttpRequest::EReadResult CHttpRequest::ReadHeader() {
    char line[kLineSize];
    bool first = true;
    size_t total = 0;
    for (;;) {
        int length = 0;
        const CSocketConn::ELineRead r = m_conn->ReadLine(line, kLineSize, &length);
        if (r == CSocketConn::ELineRead::kRecvError || r == CSocketConn::ELineRead::kClosed) {
            if (first && length > 0 && !m_conn->IsSslOn()) {
                HintHttpsOnPlainPort(std::string_view(line, static_cast<size_t>(length)));
            }
            return EReadResult::kFailed;
        }
        total += static_cast<size_t>(length) + 2;
        if (total > kMaxHeaderBytes) {
            return EReadResult::kHeaderTooLarge;
        }
        std::string_view text(line, static_cast<size_t>(length));
        // A NUL in a header would reach pages as part of a value: the whole head is refused,
        // as one in the request line is, and the line is not kept.
        const bool holdsNul = !first && text.find('\0') != std::string_view::npos;
        if (holdsNul) {
            m_invalidAddress = true;
        }
        if (r == CSocketConn::ELineRead::kTooLong) {
            // Folded and cut short: a flood of long lines must not push the day log aside.
            g_refusalLog.Log("Long header [" + std::string(text.substr(0, kLoggedHeaderBytes)) +
                             "] ignored.");
            // A request line cut short names no resource; and the rest of any long line is
            // still part of it, never a line of its own (it could be a command or a header).
            if (first) {
                return EReadResult::kInvalidAddress;
            }
            const EReadResult skipped = SkipRestOfLine(line, total);
            if (skipped != EReadResult::kOk) {
                return skipped;
            }
            continue;
        }
        if (first) {
            first = false;
            if (text.empty()) {
                return EReadResult::kOk;
            }
            ParseRequestLine(text);
            // The console's Disconnect sends its line with no empty line after it.
            if (CConsoleCommandHandler::IsCommand(m_method)) {
                return EReadResult::kOk;
            }
            continue;
        }
        if (text.empty()) {
            return EReadResult::kOk;
        }
        if (holdsNul) {
            continue;
        }
        m_allHeaders.append(text).append("\r\n");
        ParseHeaderLine(text);
    }
}

CHttpRequest::EReadResult CHttpRequest::SkipRestOfLine(char* buffer, size_t& total) {
    for (;;) {
        int length = 0;
        const CSocketConn::ELineRead r = m_conn->ReadLine(buffer, kLineSize, &length);
        if (r == CSocketConn::ELineRead::kRecvError || r == CSocketConn::ELineRead::kClosed) {
            return EReadResult::kFailed;
        }
        total += static_cast<size_t>(length);
        if (total > kMaxHeaderBytes) {
            return EReadResult::kHeaderTooLarge;
        }
        if (std::string_view(buffer, static_cast<size_t>(length)).find('\0') !=
            std::string_view::npos) {
            m_invalidAddress = true;
        }
        if (r != CSocketConn::ELineRead::kTooLong) {
            return EReadResult::kOk;
        }
    }
}

CHttpRequest::EReadResult CHttpRequest::ReadBody() {
    if (m_hasContentLength && m_contentLength > g_settings.GetUploadLimitBytes()) {
        return EReadResult::kTooLarge;
    }
    if (!m_hasContentLength) {
        return EReadResult::kNoLength;
    }
    // The buffer grows with the data that arrives, never from the declared length alone.
    constexpr size_t kPiece = 65536;
    std::string& body = m_form.Body();
    uint64_t want = static_cast<uint64_t>(m_contentLength);
    try {
        body.clear();
        while (body.size() < want) {
            size_t have = body.size();
            size_t piece = static_cast<size_t>(std::min<uint64_t>(kPiece, want - have));
            body.resize(have + piece);
            long n = m_conn->Receive(body.data() + have, piece);
            body.resize(have + (n > 0 ? static_cast<size_t>(n) : 0));
            if (n <= 0) {
                return EReadResult::kFailed;
            }
        }
    } catch (const std::bad_alloc&) {
        body.clear();
        body.shrink_to_fit();
        return EReadResult::kNoMemory;
    }
    return EReadResult::kOk;
}

std::string CHttpRequest::ReadErrorText(EReadResult result) {
    switch (result) {
        case EReadResult::kOk:
        case EReadResult::kFailed:
            return std::string();
        case EReadResult::kTooLarge: {
            char text[256];
            snprintf(text, sizeof text, g_msg.m_uploadTooLarge, g_settings.GeneralMaxUpload);
            return text;
        }
        case EReadResult::kNoLength:
            return g_msg.m_contentLengthMissing;
        case EReadResult::kNoMemory:
            return g_msg.m_outOfMemory;
        case EReadResult::kInvalidAddress:
            return kInvalidAddressText;
        default:
            return kServerErrorText;
    }
}

void CHttpRequest::ParseRequestLine(std::string_view line) {
    // A NUL or another control byte could make the file opened differ from the one checked.
    // Nothing of such a line reaches the error page either.
    m_invalidAddress = HasControlByte(line);
    if (m_invalidAddress) {
        m_allHeaders.clear();
        line = std::string_view();
    } else {
        m_allHeaders.assign(line).append("\r\n");
    }
    std::vector<std::string_view> words = Split(line, " ");
    m_method = words.empty() ? std::string() : std::string(words[0]);
    m_urlFull = words.size() < 2 ? std::string() : std::string(words[1]);
    m_url = m_urlFull;
    size_t query = m_urlFull.find('?');
    if (query != std::string::npos) {
        m_url = m_urlFull.substr(0, query);
        m_form.SetQuery(m_urlFull.substr(query + 1));
    }
    size_t dot = m_url.rfind('.');
    m_extension = dot == std::string::npos ? std::string() : m_url.substr(dot + 1);
    m_fileInDb = false;
    for (std::string_view segment : Split(m_url, "/\\")) {
        if (EqualsNoCase(segment, "FileDB") || EqualsNoCase(segment, "FileInDB")) {
            m_fileInDb = true;
        }
    }
    m_localPath = m_fileInDb ? std::string() : MapPathToFile(m_url);
}

void CHttpRequest::ParseHeaderLine(std::string_view line) {
    size_t nameEnd = line.find_first_of(" :;");
    std::string_view name = line.substr(0, nameEnd);
    std::string_view value;
    if (nameEnd != std::string_view::npos) {
        size_t start = line.find_first_not_of(": ", nameEnd);
        value = start == std::string_view::npos ? std::string_view() : line.substr(start);
    }
    if (EqualsNoCase(name, "Cookie")) {
        ParseCookies(value);
    } else if (EqualsNoCase(name, "User-Agent")) {
        DetectBrowser(value);
    } else if (EqualsNoCase(name, "Host")) {
        m_host = value;
    } else if (EqualsNoCase(name, "Referer")) {
        m_referer = value;
    } else if (EqualsNoCase(name, "Via")) {
        m_via = value;
    } else if (EqualsNoCase(name, "Content-Length")) {
        std::vector<std::string_view> words = Split(value, " ;");
        m_hasContentLength = !words.empty() && ParseLength(words[0], m_contentLength);
        if (!m_hasContentLength) {
            m_contentLength = 0;
        }
    } else if (EqualsNoCase(name, "Content-Type")) {
        std::vector<std::string_view> words = Split(value.substr(0, value.find(';')), " ");
        if (!words.empty() && EqualsNoCase(words[0], "multipart/form-data") && IsPost()) {
            m_form.SetMultipart(true);
        }
    }
}

void CHttpRequest::DetectBrowser(std::string_view userAgent) {
    std::vector<std::string_view> words = Split(userAgent, "/. (;)");
    auto minorOf = [](std::string_view word) {
        return word.empty() ? 0 : LeadingInt(word.substr(0, 1));
    };
    if (words.empty()) {
        return;
    }
    m_browserType = words[0] == "Mozilla" ? std::string("Navigator") : std::string(words[0]);
    m_browserMajor = words.size() > 1 ? LeadingInt(words[1]) : 0;
    m_browserMinor = words.size() > 2 ? minorOf(words[2]) : 0;
    for (size_t i = 3; i < words.size(); ++i) {
        if (words[i] == "MSIE") {
            m_browserType = "MSIE";
            m_browserMajor = i + 1 < words.size() ? LeadingInt(words[i + 1]) : 0;
            m_browserMinor = i + 2 < words.size() ? minorOf(words[i + 2]) : 0;
            break;
        }
    }
}

void CHttpRequest::ParseCookies(std::string_view value) {
    for (std::string_view piece : Split(value, " ;")) {
        size_t eq = piece.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            continue;
        }
        m_cookies[std::string(piece.substr(0, eq))] = UrlDecode(piece.substr(eq + 1));
    }
}

std::string CHttpRequest::MapPathToFile(const std::string& path) const {
    std::string file = m_rootFolder + "/webroot";
    if (!path.empty() && path[0] != '/') {
        file += '/';
    }
    return file + path;
}

std::string CHttpRequest::GetUrlDir() const {
    size_t slash = m_url.rfind('/');
    return slash == std::string::npos ? std::string("/") : m_url.substr(0, slash + 1);
}

bool CHttpRequest::GetField(std::string_view name, std::string* value) const {
    const std::string* found = m_form.GetValue(name);
    if (found != nullptr && value != nullptr) {
        *value = *found;
    }
    return found != nullptr;
}

std::string CHttpRequest::GetCookie(const std::string& name) const {
    auto it = m_cookies.find(name);
    return it == m_cookies.end() ? std::string() : it->second;
}

CSspUploadSource::EUploadResult CHttpRequest::CopyUploadedFile(std::string_view field,
                                                               std::string& fileName,
                                                               CLongBinary& data) {
    switch (m_form.CopyFilePart(field, fileName, data)) {
        case CFormData::ECopyResult::kOk:
            return EUploadResult::kOk;
        case CFormData::ECopyResult::kNoVariable:
            return EUploadResult::kNoField;
        case CFormData::ECopyResult::kNoMemory:
            return EUploadResult::kNoMemory;
        default:
            return EUploadResult::kNotAFile;
    }
}

// Field lookups check their own argument ("Missing field name."), so their least count is 0.
struct CHttpRequest::CMembers {
    using Row = CSspMemberRow<CHttpRequest&>;

    static std::string FieldName(const CSspCall& call) {
        if (call.ArgCount() < 1) {
            throw CSspException(g_msg.m_missingFieldName, call.m_pPos);
        }
        return call.GetParamStr(0);
    }
    static CSspValue Integer(int64_t value) {
        return CSspValue::FromInteger(static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX)));
    }
    template <std::string CHttpRequest::*field>
    static void Own(CHttpRequest& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(self.*field);
    }
    template <int CHttpRequest::*field>
    static void Number(CHttpRequest& self, CSspCall&, CSspValue& result) {
        result = Integer(self.*field);
    }

    static void FieldExist(CHttpRequest& self, CSspCall& call, CSspValue& result) {
        result = Integer(self.m_form.Exists(FieldName(call)) ? 1 : 0);
    }
    static void FieldSize(CHttpRequest& self, CSspCall& call, CSspValue& result) {
        result = Integer(static_cast<int64_t>(self.m_form.GetSize(FieldName(call))));
    }
    static void FieldValue(CHttpRequest& self, CSspCall& call, CSspValue& result) {
        const std::string* value = self.m_form.GetValue(FieldName(call));
        result = CSspValue::FromText(value == nullptr ? std::string() : *value);
    }
    static void IpAddress(CHttpRequest& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(self.m_conn == nullptr ? std::string()
                                                            : self.m_conn->GetPeerAddressText());
    }
    static void UrlPath(CHttpRequest& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(self.GetUrlDir());
    }
    static void Protocol(CHttpRequest& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(
            self.m_conn == nullptr ? "sspRun" : (self.m_conn->IsSslOn() ? "https" : "http"));
    }
    static void GetCookie(CHttpRequest& self, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromText(self.GetCookie(call.GetParamStr(0)));
    }
    static void SetField(CHttpRequest& self, CSspCall& call, CSspValue& result) {
        // Its own text for a wrong count, not "Missing parameter.".
        if (call.ArgCount() != 2) {
            throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
        }
        self.m_form.SetVar(call.GetParamStr(0), call.GetParamStr(1));
        result = Integer(1);
    }

    using R = CHttpRequest;
    static constexpr int kAny = kSspAnyArgs;
    static constexpr Row kTable[] = {
        {"FieldExist", 0, kAny, &FieldExist},
        {"exist", 0, kAny, &FieldExist},
        {"FieldSize", 0, kAny, &FieldSize},
        {"size", 0, kAny, &FieldSize},
        {"FieldValue", 0, kAny, &FieldValue},
        {"BrowserType", 0, kAny, &Own<&R::m_browserType>},
        {"BrowserVerMajor", 0, kAny, &Number<&R::m_browserMajor>},
        {"BrowserVerMinor", 0, kAny, &Number<&R::m_browserMinor>},
        {"IpAddress", 0, kAny, &IpAddress},
        {"Host", 0, kAny, &Own<&R::m_host>},
        {"Referer", 0, kAny, &Own<&R::m_referer>},
        {"Via", 0, kAny, &Own<&R::m_via>},
        {"AllHeaders", 0, kAny, &Own<&R::m_allHeaders>},
        {"UrlPath", 0, kAny, &UrlPath},
        {"Url", 0, kAny, &Own<&R::m_url>},
        {"UrlFull", 0, kAny, &Own<&R::m_urlFull>},
        {"protocol", 0, kAny, &Protocol},
        {"getCookie", 1, kAny, &GetCookie},
        {"SetField", 0, kAny, &SetField},
        {"SetVar", 0, kAny, &SetField},
    };
};

void CHttpRequest::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    const CMembers::Row* row = FindSspMemberRow(CMembers::kTable, call.m_strMember);
    if (row == nullptr) {
        // A name that is no member reads the form field of that name.
        const std::string* value = m_form.GetValue(call.m_strMember);
        if (value == nullptr) {
            throw CSspException(call.m_strMember + g_msg.m_notRequestFunction + m_referer,
                                call.m_pPos);
        }
        result = CSspValue::FromText(*value);
        return;
    }
    CallSspMemberRow(*row, call, result, *this);
}
