// One HTTP request read from an accepted connection: the request line, the headers the
// server uses, the cookies, the browser, and the form and query variables. In pages it is
// the script object `Request`.
//
// The header block is bounded: kMaxHeaderBytes in all, and the whole of it must arrive
// within the connection's time-out (a deadline, not a time-out per line).
//
// While a debugger is installed (the studio), a plain connection whose read fails on its
// first line after bytes that cannot start a request (a browser speaking https) logs
// "\r\nYou may be trying to access this regular web server using https://.... Try using
// http://... in your browser."
//
// The uploads of a multipart POST reach file objects through CSspUploadSource.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "engine/script/SspFile.h"
#include "engine/script/SspRequestObject.h"
#include "engine/web/FormData.h"

class CSocketConn;

class CHttpRequest : public CSspRequestObject, public CSspUploadSource {
public:
    // Results of ReadRequest.
    enum class EReadResult {
        kOk = 0,
        kNoMemory = -1,        // the body could not be stored
        kNoLength = -2,        // a POST without a usable Content-Length
        kFailed = -3,          // the peer closed, an error or a time-out: answer nothing
        kHeaderTooLarge = -4,  // the header block passed kMaxHeaderBytes
        kTooLarge = -5,        // the declared body is above the upload limit
        kNoConnection = -6,
        kInvalidAddress = -7,  // a control byte in the request line, or one too long
    };

    // A line holds at most kLineSize - 1 bytes; a longer header line is logged and dropped
    // whole, a longer request line makes the request invalid.
    static constexpr int kLineSize = 4096;
    static constexpr size_t kMaxHeaderBytes = 65536;

    // Over a connection, or none (a scheduled script's run, which reads nothing).
    explicit CHttpRequest(CSocketConn* conn = nullptr);
    ~CHttpRequest() override;
    CHttpRequest(const CHttpRequest&) = delete;
    CHttpRequest& operator=(const CHttpRequest&) = delete;

    // Reads the request line, the headers and a POST body (up to the upload limit of the
    // settings). The form data is parsed later by the caller
    // (GetForm().Parse()). A request line whose first word is a console command
    // (CConsoleCommandHandler::IsCommand) ends the read at once: the console may send no
    // header block at all, and what follows the line is left unread.
    [[nodiscard]] EReadResult ReadRequest();

    // The text the browser is shown for a failed read; empty for kOk and kFailed,
    // which get no answer.
    static std::string ReadErrorText(EReadResult result);
    // A studio's hint, while a debugger is installed, for a plain connection whose first
    // bytes were no request (a browser speaking https to the plain port).
    static void HintHttpsOnPlainPort(std::string_view firstBytes);

    // Steps of the reader, usable on their own.
    void ParseRequestLine(std::string_view line);
    void ParseHeaderLine(std::string_view line);
    void DetectBrowser(std::string_view userAgent);
    void ParseCookies(std::string_view value);

    // The local file that the path names under <root>/webroot.
    std::string MapPathToFile(const std::string& path) const;
    // The path up to and including its last '/', or "/" when it holds none.
    std::string GetUrlDir() const;

    // Whether the form variable exists; its value goes to *value when given.
    bool GetField(std::string_view name, std::string* value = nullptr) const;
    // The value of a cookie the request sent (name as sent, case counts), empty when absent.
    std::string GetCookie(const std::string& name) const;

    // The upload of form field `field` (CFormData::CopyFilePart; its codes are the same).
    EUploadResult CopyUploadedFile(std::string_view field, std::string& fileName,
                                   CLongBinary& data) override;

    // The `Request` members (names without regard to case).
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // The root folder that local paths are made under; g_rootDir by default.
    void SetRootFolder(std::string root) { m_rootFolder = std::move(root); }

    const std::string& GetMethod() const { return m_method; }
    const std::string& GetAllHeaders() const { return m_allHeaders; }
    const std::string& GetUrlFull() const { return m_urlFull; }
    const std::string& GetUrl() const { return m_url; }
    const std::string& GetLocalPath() const { return m_localPath; }
    const std::string& GetExtension() const { return m_extension; }
    bool IsFileInDb() const { return m_fileInDb; }
    bool IsInvalidAddress() const { return m_invalidAddress; }
    const std::string& GetHost() const { return m_host; }
    const std::string& GetReferer() const { return m_referer; }
    const std::string& GetVia() const { return m_via; }
    const std::string& GetBrowserType() const { return m_browserType; }
    int GetBrowserMajor() const { return m_browserMajor; }
    int GetBrowserMinor() const { return m_browserMinor; }
    bool HasContentLength() const { return m_hasContentLength; }
    int64_t GetContentLength() const { return m_contentLength; }
    const std::map<std::string, std::string>& GetCookies() const { return m_cookies; }
    CFormData& GetForm() { return m_form; }
    const CFormData& GetForm() const { return m_form; }
    CSocketConn* GetConnection() const { return m_conn; }

private:
    // The member table and its handlers.
    struct CMembers;

    [[nodiscard]] EReadResult ReadHeader();
    // Reads and drops what is left of an over-long line, up to its line end.
    [[nodiscard]] EReadResult SkipRestOfLine(char* buffer, size_t& total);
    [[nodiscard]] EReadResult ReadBody();
    bool IsPost() const;

    std::string m_method;
    std::string m_allHeaders;
    std::string m_urlFull;
    std::string m_url;
    std::string m_localPath;
    std::string m_extension;
    bool m_fileInDb = false;
    bool m_invalidAddress = false;
    std::string m_host;
    int m_browserMajor = 0;
    int m_browserMinor = 0;
    std::string m_browserType;
    std::string m_referer;
    std::string m_via;
    bool m_hasContentLength = false;
    int64_t m_contentLength = 0;
    CFormData m_form;
    CSocketConn* m_conn;
    std::map<std::string, std::string> m_cookies;
    std::string m_rootFolder;
};
