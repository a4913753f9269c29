#include "engine/web/HttpRequest.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <new>
#include <vector>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspCall.h"
#include "engine/script/SspObject.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/UrlCodec.h"

namespace {

constexpr const char* kInvalidAddressText = "Invalid HTTP address.";
constexpr const char* kServerErrorText = "Server Error.";

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

int CHttpRequest::ReadRequest() {
    if (m_conn == nullptr) {
        return READ_NO_CONNECTION;
    }
    if (m_conn->GetTimeout() > 0) {
        m_conn->SetDeadline(std::chrono::steady_clock::now() +
                            std::chrono::seconds(m_conn->GetTimeout()));
    }
    int result = ReadHeader();
    m_conn->ClearDeadline();
    if (result != READ_OK) {
        return result;
    }
    if (m_invalidAddress) {
        return READ_INVALID_ADDRESS;
    }
    if (!IsPost()) {
        return READ_OK;
    }
    return ReadBody();
}

int CHttpRequest::ReadHeader() {
    char line[kLineSize];
    bool first = true;
    size_t total = 0;
    for (;;) {
        int length = 0;
        const CSocketConn::ELineRead r = m_conn->ReadLine(line, kLineSize, &length);
        if (r == CSocketConn::ELineRead::kRecvError || r == CSocketConn::ELineRead::kClosed) {
            return READ_FAILED;
        }
        total += static_cast<size_t>(length) + 2;
        if (total > kMaxHeaderBytes) {
            return READ_HEADER_TOO_LARGE;
        }
        std::string_view text(line, static_cast<size_t>(length));
        if (r == CSocketConn::ELineRead::kTooLong) {
            g_log.Log("Long header [%s] ignored.", line);
            // A request line cut short names no resource; and the rest of any long line is
            // still part of it, never a line of its own (it could be a command or a header).
            if (first) {
                return READ_INVALID_ADDRESS;
            }
            int skipped = SkipRestOfLine(line, total);
            if (skipped != READ_OK) {
                return skipped;
            }
            continue;
        }
        if (first) {
            first = false;
            if (text.empty()) {
                return READ_OK;
            }
            ParseRequestLine(text);
            // The console's Disconnect sends its line with no empty line after it.
            if (CConsoleCommandHandler::IsCommand(m_method)) {
                return READ_OK;
            }
            continue;
        }
        if (text.empty()) {
            return READ_OK;
        }
        m_allHeaders.append(text).append("\r\n");
        ParseHeaderLine(text);
    }
}

int CHttpRequest::SkipRestOfLine(char* buffer, size_t& total) {
    for (;;) {
        int length = 0;
        const CSocketConn::ELineRead r = m_conn->ReadLine(buffer, kLineSize, &length);
        if (r == CSocketConn::ELineRead::kRecvError || r == CSocketConn::ELineRead::kClosed) {
            return READ_FAILED;
        }
        total += static_cast<size_t>(length);
        if (total > kMaxHeaderBytes) {
            return READ_HEADER_TOO_LARGE;
        }
        if (r != CSocketConn::ELineRead::kTooLong) {
            return READ_OK;
        }
    }
}

int CHttpRequest::ReadBody() {
    if (m_hasContentLength && m_contentLength > g_settings.GetUploadLimitBytes()) {
        return READ_TOO_LARGE;
    }
    if (!m_hasContentLength) {
        return READ_NO_LENGTH;
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
                return READ_FAILED;
            }
        }
    } catch (const std::bad_alloc&) {
        body.clear();
        body.shrink_to_fit();
        return READ_NO_MEMORY;
    }
    return READ_OK;
}

std::string CHttpRequest::ReadErrorText(int result) {
    switch (result) {
        case READ_OK:
        case READ_FAILED:
            return std::string();
        case READ_TOO_LARGE: {
            char text[256];
            snprintf(text, sizeof text, g_msg.m_uploadTooLarge, g_settings.GeneralMaxUpload);
            return text;
        }
        case READ_NO_LENGTH:
            return g_msg.m_contentLengthMissing;
        case READ_NO_MEMORY:
            return g_msg.m_outOfMemory;
        case READ_INVALID_ADDRESS:
            return kInvalidAddressText;
        default:
            return kServerErrorText;
    }
}

void CHttpRequest::ParseRequestLine(std::string_view line) {
    m_allHeaders.assign(line).append("\r\n");
    // A NUL or another control byte could make the file opened differ from the one checked.
    m_invalidAddress = HasControlByte(line);
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

int CHttpRequest::CopyUploadedFile(std::string_view field, std::string& fileName,
                                   CLongBinary& data) {
    switch (m_form.CopyFilePart(field, fileName, data)) {
        case CFormData::COPY_OK:
            return kUploadOk;
        case CFormData::COPY_NO_VARIABLE:
            return kUploadNoField;
        case CFormData::COPY_NO_MEMORY:
            return kUploadNoMemory;
        default:
            return kUploadNotAFile;
    }
}

namespace {

enum ERequestMember {
    kFieldExist,
    kFieldSize,
    kFieldValue,
    kBrowserType,
    kBrowserMajor,
    kBrowserMinor,
    kIpAddress,
    kHost,
    kReferer,
    kVia,
    kAllHeaders,
    kUrlPath,
    kUrl,
    kUrlFull,
    kProtocol,
    kGetCookie,
    kSetField,
};

// Field lookups check their own argument ("Missing field name."), so their minimum is 0.
constexpr CSspMember kRequestMembers[] = {
    {"FieldExist", 0, kFieldExist},
    {"exist", 0, kFieldExist},
    {"FieldSize", 0, kFieldSize},
    {"size", 0, kFieldSize},
    {"FieldValue", 0, kFieldValue},
    {"BrowserType", 0, kBrowserType},
    {"BrowserVerMajor", 0, kBrowserMajor},
    {"BrowserVerMinor", 0, kBrowserMinor},
    {"IpAddress", 0, kIpAddress},
    {"Host", 0, kHost},
    {"Referer", 0, kReferer},
    {"Via", 0, kVia},
    {"AllHeaders", 0, kAllHeaders},
    {"UrlPath", 0, kUrlPath},
    {"Url", 0, kUrl},
    {"UrlFull", 0, kUrlFull},
    {"protocol", 0, kProtocol},
    {"getCookie", 1, kGetCookie},
    {"SetField", 0, kSetField},
    {"SetVar", 0, kSetField},
};

}  // namespace

void CHttpRequest::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    const CSspMember* member = FindSspMember(kRequestMembers, call.m_strMember);
    if (member == nullptr) {
        const std::string* value = m_form.GetValue(call.m_strMember);
        if (value == nullptr) {
            throw CSspException(call.m_strMember + g_msg.m_notRequestFunction + m_referer,
                                call.m_pPos);
        }
        result = CSspValue::FromText(*value);
        return;
    }
    if (static_cast<int>(call.ArgCount()) < member->m_minArgs) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    auto fieldName = [&call]() {
        if (call.ArgCount() < 1) {
            throw CSspException(g_msg.m_missingFieldName, call.m_pPos);
        }
        return call.GetParamStr(0);
    };
    auto text = [&result](const std::string& value) { result = CSspValue::FromText(value); };
    auto integer = [&result](int64_t value) {
        result = CSspValue::FromInteger(static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX)));
    };
    switch (member->m_id) {
        case kFieldExist:
            integer(m_form.Exists(fieldName()) ? 1 : 0);
            break;
        case kFieldSize:
            integer(static_cast<int64_t>(m_form.GetSize(fieldName())));
            break;
        case kFieldValue: {
            const std::string* value = m_form.GetValue(fieldName());
            text(value == nullptr ? std::string() : *value);
            break;
        }
        case kBrowserType:
            text(m_browserType);
            break;
        case kBrowserMajor:
            integer(m_browserMajor);
            break;
        case kBrowserMinor:
            integer(m_browserMinor);
            break;
        case kIpAddress:
            text(m_conn == nullptr ? std::string() : m_conn->GetPeerAddressText());
            break;
        case kHost:
            text(m_host);
            break;
        case kReferer:
            text(m_referer);
            break;
        case kVia:
            text(m_via);
            break;
        case kAllHeaders:
            text(m_allHeaders);
            break;
        case kUrlPath:
            text(GetUrlDir());
            break;
        case kUrl:
            text(m_url);
            break;
        case kUrlFull:
            text(m_urlFull);
            break;
        case kProtocol:
            text(m_conn == nullptr ? "sspRun" : (m_conn->IsSslOn() ? "https" : "http"));
            break;
        case kGetCookie:
            text(GetCookie(call.GetParamStr(0)));
            break;
        case kSetField:
            if (call.ArgCount() != 2) {
                throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
            }
            m_form.SetVar(call.GetParamStr(0), call.GetParamStr(1));
            integer(1);
            break;
    }
}
