#include "engine/web/RequestDispatch.h"

#include <sys/stat.h>

#include <string_view>
#include <utility>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FilePaths.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/HtmlCodec.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/script/SspApplication.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspInterpreter.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/HttpResponse.h"
#include "engine/web/ServerContext.h"

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The path the refusals are decided on: lower case, with the leading "/" that the local
// file gets anyway ("log/x" names the same file as "/log/x").
std::string RefusalPath(const std::string& path) {
    std::string folded = AsciiLowerCopy(path);
    if (folded.empty() || folded[0] != '/') {
        folded.insert(0, 1, '/');
    }
    return folded;
}

// ".." anywhere, a "." segment, "//", a backslash or NUL. A "." segment is refused rather
// than folded, so that no spelling of a path gets past the folder checks below.
bool IsForbiddenPath(std::string_view path) {
    return path.find("..") != std::string_view::npos || path.find("//") != std::string_view::npos ||
           path.find('\\') != std::string_view::npos || path.find('\0') != std::string_view::npos ||
           path.find("/./") != std::string_view::npos || path.ends_with("/.");
}

bool IsLogPath(std::string_view path) {
    return path == "/log" || path.starts_with("/log/");
}

bool IsSystemScript(std::string_view path, std::string_view extension) {
    std::string_view folder = path.substr(0, path.rfind('/') + 1);
    return folder.find("/script/") != std::string_view::npos && extension == "zrs";
}

// Sends what a finished run wrote; a run that wrote nothing still gets its headers.
void FinishOutput(CHttpResponse& response) {
    response.OpenOutput();
    response.Finish();
}

}  // namespace

CRequestDispatch::CRequestDispatch(CSocketConn& conn, int threadId, std::string rootFolder,
                                   RunningHook running)
    : m_conn(conn),
      m_threadId(threadId),
      m_rootFolder(std::move(rootFolder)),
      m_running(std::move(running)) {}

void CRequestDispatch::SetRunning(CSspInterpreter* interp) {
    if (m_running) {
        m_running(interp);
    }
}

std::string CRequestDispatch::SafeExtension(const std::string& extension) {
    std::string out;
    for (char c : extension) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += c;
        }
    }
    return out;
}

std::string CRequestDispatch::OutputFolder() const {
    std::string folder = m_rootFolder + "/tmp";
    return EnsureDirectory(folder, kSharedFolderMode) ? folder : m_rootFolder;
}

void CRequestDispatch::HandleRequest(CHttpRequest& request, CHttpRequest::EReadResult readResult) {
    const bool logHttp = g_settings.LogHttp;
    // The URL is outside text: it goes into the log as an argument, never as a format.
    std::string logLine;
    if (logHttp) {
        logLine = m_conn.GetPeerAddressText() + " " + request.GetUrlFull() + " [" +
                  std::to_string(m_threadId) + "]";
        g_log.Log("%s", logLine.c_str());
    }
    if (CSspDebugHooks::Current() != nullptr) {
        CSspDebugHooks::Echo(std::string(g_msg.m_requestHeaderBanner) + request.GetAllHeaders() +
                             g_msg.m_htmlGeneratedBanner);
    }
    m_conn.DrainInput();

    if (readResult != CHttpRequest::EReadResult::kOk) {
        if (readResult != CHttpRequest::EReadResult::kFailed) {
            SendErrorPage(request, CHttpRequest::ReadErrorText(readResult), nullptr);
        }
    } else {
        request.GetForm().Parse();
        CHttpResponse response(&m_conn);
        const std::string& path = request.GetUrl();
        const std::string folded = RefusalPath(path);
        const std::string extension = AsciiLowerCopy(request.GetExtension());
        if (request.IsFileInDb()) {
            ServeDynamicPage(request);
        } else if (IsForbiddenPath(folded)) {
            // Before the folder redirects: "/../x/" must not probe outside the web root.
            SendErrorPage(request, kInvalidAddress, nullptr);
        } else if (IsLogPath(folded)) {
            SendErrorPage(request, kLogRefused, nullptr);
        } else if (path.empty() || (extension.empty() && path.back() != '/')) {
            response.Redirect(path + "/", true);
        } else if (path.back() == '/') {
            bool page = IsRegularFile(request.GetLocalPath() + "index.zrp");
            response.Redirect(path + (page ? "index.zrp" : "index.html"), false);
        } else if (IsSystemScript(folded, extension)) {
            SendErrorPage(request, kScriptRefused, nullptr);
        } else if (extension == "zrp") {
            ServeDynamicPage(request);
        } else {
            response.SetFileCache(m_fileCache);
            response.Send(request.GetLocalPath(), false);  // drained above
        }
    }

    if (logHttp) {
        // Only an answer that went out whole was sent.
        g_log.Log(m_conn.WasAnswerSentWhole() ? "%s sent." : "%s not sent.", logLine.c_str());
    }
}

void CRequestDispatch::ServeDynamicPage(CHttpRequest& request) {
    const std::string folder = OutputFolder();
    std::string file = folder + "/dyn" + std::to_string(m_threadId) + ".";
    file += request.IsFileInDb() ? SafeExtension(request.GetExtension()) : std::string("html");

    CHttpResponse response(&m_conn);
    response.SetOutputFile(file);
    response.SetOutputBuffer(m_outputBuffer);
    CSspInterpreter interp;
    response.SetClientGoneHook([&interp] { interp.RequestStop(); });
    SetRunning(&interp);
    int rc = request.IsFileInDb()
                 ? interp.ServeDatabaseFile(request.GetUrl(), &request, &response)
                 : interp.RunPage(request.GetLocalPath(), request.GetUrl(), &request, &response);
    SetRunning(nullptr);

    if (rc == kSspDone || rc == kSspReturned) {
        FinishOutput(response);
    } else if (rc == kSspError) {
        SendErrorPage(request, interp.m_strError, &interp);
    }
}

void CRequestDispatch::SendErrorPage(CHttpRequest& request, const std::string& message,
                                     CSspInterpreter* failed) {
    const std::string text = message.empty() ? std::string(kNoErrorMessage) : message;
    CHttpResponse response(&m_conn);
    response.SetOutputFile(OutputFolder() + "/err" + std::to_string(m_threadId) + ".html");
    response.SetOutputBuffer(m_outputBuffer);
    response.SetErrorText(text);
    response.SetExpires(0);

    std::string url;
    std::string file;
    if (failed != nullptr && !failed->m_strErrorUrl.empty()) {
        url = failed->m_strErrorUrl;
        file = failed->m_strErrorPath;
    } else {
        CSspApplication* app = g_serverContext.FindApplication(AsciiLowerCopy(request.GetUrlDir()));
        std::string prefix = app != nullptr ? app->GetName() : std::string("/");
        if (prefix.empty() || prefix.back() != '/') {
            prefix += '/';
        }
        url = prefix + "error.zrp";
        file = m_rootFolder + "/webroot" + url;
    }

    std::string shown = text;
    // Without an error page of its own the message alone is shown: a missing error.zrp is
    // no error of the request's.
    if (IsRegularFile(file)) {
        CSspInterpreter errorRun;
        SetRunning(&errorRun);
        int rc = errorRun.RunPage(file, url, &request, &response);
        SetRunning(nullptr);
        if (rc == kSspDone || rc == kSspReturned) {
            FinishOutput(response);
            return;
        }
        if (rc == kSspRedirected) {
            return;  // the error page answered with its redirect
        }
        if (rc == kSspError) {
            shown += "\r\n\r\nAdditional error: " + errorRun.m_strError;
        }
    }
    HtmlEscape(shown, true);
    response.SendHtmlError(shown);
}
