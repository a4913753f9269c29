// What a server thread sends for one request it has read: an error text for a failed read,
// a redirect for a folder, a refusal for a forbidden path, a page run through the page
// engine, a file stored in the database, or a static file. Exactly one answer per request,
// or none when the read failed; every error reaches the browser with status 200.
//
// Decisions, in order: a file-in-database URL is served from the database; a path with
// "..", a "." segment, "//" or "\" is refused ("Invalid HTTP address."); "/log" and anything
// under it (the day logs) is refused; an empty path or one without extension and trailing
// "/" is redirected with 301 to itself plus "/"; a path ending in "/" is redirected with 302
// to its "index.zrp" when that file exists, else to "index.html"; a ".zrs" file in a
// "/script/" folder is refused; a ".zrp" page runs; anything else is sent as a static file.
// The refusals are decided in any case, on the path with a leading "/".
#pragma once

#include <functional>
#include <string>

#include "engine/web/HttpRequest.h"

class CHttpResponse;
class CSocketConn;
class CSspInterpreter;
class CStaticFileCache;

class CRequestDispatch {
public:
    // Told of each interpreter a request runs (and of nullptr when it is done), so that a
    // hung page can be located from another thread.
    using RunningHook = std::function<void(CSspInterpreter*)>;

    static constexpr const char* kInvalidAddress = "Invalid HTTP address.";
    static constexpr const char* kScriptRefused =
        ".zrs files in a script folder are system files. They are not accessible from a web "
        "browser. ";
    static constexpr const char* kLogRefused =
        "Files in the log folder are system files. They are not accessible from a web "
        "browser. ";
    static constexpr const char* kNoErrorMessage = "No error message.";

    // Answers on `conn` for the server thread `threadId` (its kernel id, which names its
    // output files) under the root folder `rootFolder` (pages under <root>/webroot, output
    // in <root>/tmp).
    CRequestDispatch(CSocketConn& conn, int threadId, std::string rootFolder,
                     RunningHook running = RunningHook());

    // Page output is collected in `buffer` (kept by the caller between requests, so that its
    // memory is reused) before any file; none keeps it in files.
    void SetOutputBuffer(std::string* buffer) { m_outputBuffer = buffer; }
    // Small static files are kept in `cache` (the caller's, between requests); none reads
    // every file.
    void SetFileCache(CStaticFileCache* cache) { m_fileCache = cache; }

    // Sends the answer to a request whose read gave `readResult` (CHttpRequest's codes).
    // Parses the form data of a successful read. Logs the request when LogHttp is on.
    void HandleRequest(CHttpRequest& request, CHttpRequest::EReadResult readResult);

    // Runs the page (or reads the database file) into the output buffer, or, when the output
    // grows large or has no buffer, into <root>/tmp/dyn<id>.<ext>, and sends it.
    // A page that writes nothing still gets a 200 answer with an empty body.
    void ServeDynamicPage(CHttpRequest& request);

    // Shows `message` through the failed run's own error page (setErrorFile), else through
    // "error.zrp" of the request's application, else through the built-in error page.
    void SendErrorPage(CHttpRequest& request, const std::string& message, CSspInterpreter* failed);

    // The extension a database file's output file gets: its letters and digits only.
    static std::string SafeExtension(const std::string& extension);

private:
    std::string OutputFolder() const;
    void SetRunning(CSspInterpreter* interp);

    CSocketConn& m_conn;
    int m_threadId;
    std::string m_rootFolder;
    RunningHook m_running;
    std::string* m_outputBuffer = nullptr;
    CStaticFileCache* m_fileCache = nullptr;
};
