// The answer to one request. A page's output is collected in an output file, or in a
// memory buffer that moves into that file only when it grows large or the file itself is
// asked for, and sent, when the page is done, as one HTTP/1.0 response with its headers; a
// redirect and the small HTML error page go out directly. In pages it is the script object
// `Response`.
//
// No header line is ever sent with a CR or LF taken from a page: Location is
// percent-encoded, added header text holding one is refused, and content type, charset and
// cookie fields lose them. A cookie's name, path and expires never hold a ';', which would
// add attributes of the page's choosing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/UniqueFd.h"
#include "engine/script/SspResponseObject.h"

class CSocketConn;
class CStaticFileCache;

struct CCookie {
    std::string m_name;
    std::string m_value;
    std::string m_expires;
    std::string m_path;
    bool m_httpOnly = false;
    bool m_secure = false;
};

class CHttpResponse : public CSspResponseObject {
public:
    // On a connection, or none (a scheduled script: nothing is ever sent).
    explicit CHttpResponse(CSocketConn* conn = nullptr);
    // Closes the output file and deletes it when it was created.
    ~CHttpResponse() override;
    CHttpResponse(const CHttpResponse&) = delete;
    CHttpResponse& operator=(const CHttpResponse&) = delete;

    // Output held in memory beyond this many bytes moves into the output file.
    static constexpr size_t kSpillSize = size_t{1} << 20;

    // The file the output is collected in (created by the first write, or, with a buffer,
    // once the output outgrows it).
    void SetOutputFile(const std::string& path) { m_outputPath = path; }
    // Collects the output in `buffer` first; the caller keeps it for its next response, so
    // that its memory is reused. It is emptied here.
    void SetOutputBuffer(std::string* buffer);
    // The output file's path. Asking for it while the output is open moves what memory holds
    // into the file, so that the file holds the whole output.
    const std::string& GetOutputFile();

    // Output that has to stay in memory (its file could not be made or written) is lost past
    // this many bytes, and the answer is the server's error instead.
    void SetMemoryLimit(size_t bytes) { m_memoryLimit = bytes; }
    static constexpr size_t kMemoryLimit = size_t{256} << 20;

    // Creates the output file on first use. False (after logging) when it cannot be made.
    bool OpenOutput();

    // Called by a write once the client has gone (a page then stops: nobody reads it).
    void SetClientGoneHook(std::function<void()> hook) { m_clientGone = std::move(hook); }
    // Append to the output file; nothing once it is closed. An installed debugger sees each
    // write: text as it is, binary data as "%d bytes of binary data".
    void WriteText(std::string_view text) override;
    void WriteBinary(const void* data, size_t length);
    // A value as its text; a date-time by the date output mode.
    void WriteValue(const CSspValue& value) override;
    void CloseOutput() override;
    // Everything written so far; empty when the file was never made or is closed.
    std::string ReadOutput();
    // Empties the output.
    void ClearOutput();

    // False, adding nothing, when the name, path or expires holds a ';'.
    bool AddCookie(const std::string& name, const std::string& value,
                   const std::string& path = std::string(),
                   const std::string& expires = std::string());
    // The server's own cookies, with their attributes; not checked.
    void AddCookie(CCookie cookie);
    // The value of the first cookie of this response named so (any case), or empty.
    std::string GetCookie(std::string_view name) const;
    // Appends one header line; an empty text adds none. False, adding nothing, when the text
    // holds a CR or LF.
    bool AddHeader(std::string_view text);

    // The content type that a file is sent with, by the MIME map of the settings.
    static std::string GetContentType(const std::string& filePath);

    // Small files are sent from (and kept in) this thread's cache, as the connection's last
    // bytes (the caller closes it right after); none reads every file.
    void SetFileCache(CStaticFileCache* cache) { m_fileCache = cache; }
    // Sends the file as the response: 1 when it was sent, 0 otherwise (an error page went
    // out instead, or there is no connection). Only regular files are sent. Unread input is
    // dropped first unless the caller has just done so.
    int Send(const std::string& filePath, bool drainInput = true);
    // Closes the output and sends it, when anything was written: what memory holds in one
    // send with its head, a file by Send.
    void Finish();
    // "301" when permanent, else "302 Moved Temporarily".
    void Redirect(const std::string& location, bool permanent);
    // The error page with the text inside the error box.
    void SendHtmlError(const std::string& text);

    // The `Response` members (names without regard to case).
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // The header lines that come before Content-Type: Date, Expires, cookies, added lines.
    std::string BuildDateHeaders() const;
    std::string BuildCookieHeaders() const;
    std::string BuildExtraHeaders() const;

    void SetErrorText(const std::string& text) { m_errorText = text; }
    const std::string& GetErrorText() const { return m_errorText; }
    void SetExpires(int minutes) { m_expires = minutes; }
    int GetExpires() const { return m_expires; }
    void SetContentType(std::string_view type);
    const std::string& GetContentTypeSet() const { return m_contentType; }
    void SetCharset(std::string_view charset);
    const std::string& GetCharset() const { return m_charset; }
    void SetDateOutputMode(const std::string& mode) { m_dateMode = mode; }
    const std::string& GetDateOutputMode() const { return m_dateMode; }
    const std::vector<CCookie>& GetCookies() const { return m_cookies; }
    CSocketConn* GetConnection() const { return m_conn; }

private:
    // Appends to the output file; false when it is not open.
    bool WriteOutput(const void* data, size_t length);
    // The bare error page (Send's own failures).
    void SendErrorBody(const std::string& body, const char* status = "200 OK");
    void LogWriteFailure();
    // Closes and removes the output file; the output stays in memory from now on.
    void DropFile();
    // Reads the file's bytes back into memory and drops the file; false when memory could
    // not take them (the output is then lost).
    bool FallBackToMemory();
    void KeepInMemory(const char* bytes, size_t length);
    // The output could be kept nowhere: the answer becomes the server's error.
    void LoseOutput();
    // The status line and headers of a page of `length` bytes, typed by `filePath` unless the
    // page set its type.
    std::string BuildPageHead(const std::string& filePath, uint64_t length) const;
    // Creates the output file and moves the buffer's bytes into it. False (after logging)
    // when it cannot be made.
    bool MoveToFile();
    bool InFile() const { return m_fd.Get() >= 0; }
    // Sends a small file's bytes with the head in one send, the close's FIN in its segment.
    void SendHeld(const std::string& filePath, const std::string& bytes);

    std::string m_errorText;
    CSocketConn* m_conn;
    std::string m_outputPath;
    std::string* m_buffer = nullptr;
    CUniqueFd m_fd;
    bool m_fileMade = false;
    uint64_t m_fileSize = 0;  // bytes written to the output file
    bool m_spillFailed = false;
    bool m_outputLost = false;
    size_t m_memoryLimit = kMemoryLimit;
    std::string m_ownBuffer;  // memory for output without a caller's buffer
    bool m_created = false;
    bool m_closed = true;
    std::vector<CCookie> m_cookies;
    int m_expires = -100;
    std::string m_contentType;
    std::string m_charset;
    std::string m_dateMode = "0";
    std::vector<std::string> m_extraHeaders;
    std::function<void()> m_clientGone;
    CStaticFileCache* m_fileCache = nullptr;
};
