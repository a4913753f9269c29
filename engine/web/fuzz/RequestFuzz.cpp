// libFuzzer target: arbitrary bytes arrive on a connection as a request, are read and answered
// by the dispatcher over a scratch root whose data source holds one small table, so that
// files-in-the-database URLs reach the SQL in both URL modes; the bytes are then parsed once
// more as a multipart and an url-encoded body.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data/DataSource.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SspValue.h"
#include "engine/foundation/WriteAll.h"
#include "engine/foundation/fuzz/ScratchFolder.h"
#include "engine/script/FileIdUrl.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/FormData.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/RequestDispatch.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"

namespace {

// The reader runs on this thread, so the whole input must fit in the socket's buffer.
constexpr size_t kMaxInput = 60000;
constexpr const char kSqliteDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// A root folder with an empty web root and the default data source on a SQLite file that
// holds the table att (attid, attdata, name) with row 5. Removed at exit.
class CScratchServer {
public:
    CScratchServer() : m_folder("request-fuzz") {
        if (Root().empty()) {
            return;
        }
        std::filesystem::create_directories(Root() + "/webroot");
        g_settings.m_mimeMap.FillDefaults();
        g_settings.LogHttp = false;
        if (!std::filesystem::exists(kSqliteDriver)) {
            return;  // file URLs then stop at the missing data source
        }
        const std::string connect =
            std::string("DRIVER=") + kSqliteDriver + ";Database=" + Root() + "/files.db";
        {
            CDataSource ds(connect);
            ds.DoCommand("ExecuteSQL", "CREATE TABLE att (attid INTEGER, attdata BLOB, name TEXT)");
            ds.DoCommand("ExecuteSQL", "INSERT INTO att VALUES (5, X'5044460001FF', 'r.pdf')");
        }
        g_settings.DbOdbcConnectString = "ODBC;" + connect;
        g_serverContext.InitDefaultDataSource();
        m_link = std::make_unique<CServerContextLink>(g_serverContext);
        CServerContextLink::InstallFor(m_link.get());
    }
    ~CScratchServer() {
        if (m_link) {
            CServerContextLink::Uninstall();
            g_serverContext.Clear();
        }
    }
    const std::string& Root() const { return m_folder.Path(); }

private:
    CScratchFolder m_folder;
    std::unique_ptr<CServerContextLink> m_link;
};

void CopyEveryUpload(const CFormData& form) {
    CLongBinary data;
    std::string fileName;
    for (const auto& [name, value] : form.Values()) {
        // Only that a copy neither crashes nor reads out of bounds matters here.
        static_cast<void>(form.CopyFilePart(name, fileName, data));
    }
}

// The encrypted URL of a plain-form one (".../FileDB/t/k/id/d/name"), made as a page would,
// so that the encrypted mode gets past its check digits with the fuzzed names; empty when
// the path has no such form.
std::string TokenUrlOf(const std::string& url) {
    size_t at = AsciiLowerCopy(url).find("/filedb/");
    if (at == std::string::npos) {
        return std::string();
    }
    std::vector<std::string> parts;
    std::string_view rest = std::string_view(url).substr(at + 8);
    while (parts.size() < 5) {
        size_t slash = rest.find('/');
        parts.emplace_back(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    std::string made = BuildFileIdUrl(parts[0], parts[1], parts[2], parts[3], parts[4]);
    return made.empty() ? made : "/" + made;
}

void Dispatch(CSocketConn& conn, const std::string& root, CHttpRequest& request,
              CHttpRequest::EReadResult result, bool encrypted) {
    g_settings.EncryptFileID = encrypted;
    CRequestDispatch(conn, 0, root).HandleRequest(request, result);
}

// Answers the request in both URL modes (a file-in-database URL is accepted in one only),
// and the encrypted form of a plain file URL.
void Answer(CSocketConn& conn, const std::string& root, CHttpRequest& request,
            CHttpRequest::EReadResult result) {
    Dispatch(conn, root, request, result, false);
    if (result != CHttpRequest::EReadResult::kOk || !request.IsFileInDb()) {
        return;
    }
    Dispatch(conn, root, request, result, true);
    std::string tokenUrl = TokenUrlOf(request.GetUrl());
    if (!tokenUrl.empty() && tokenUrl.size() < CHttpRequest::kLineSize) {
        CHttpRequest made(&conn);
        made.SetRootFolder(root);
        made.ParseRequestLine("GET " + tokenUrl + " HTTP/1.0");
        Dispatch(conn, root, made, CHttpRequest::EReadResult::kOk, true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CScratchServer server;
    if (size > kMaxInput || server.Root().empty()) {
        return 0;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return 0;
    }
    int buffer = 1 << 20;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (WriteAll(fds[0], reinterpret_cast<const char*>(data), size)) {
        shutdown(fds[0], SHUT_WR);
        CSocketConn conn;
        conn.Attach(fds[1]);
        conn.SetTimeout(1);
        CHttpRequest request(&conn);
        request.SetRootFolder(server.Root());
        const CHttpRequest::EReadResult result = request.ReadRequest();
        Answer(conn, server.Root(), request, result);
        if (result == CHttpRequest::EReadResult::kOk) {
            CopyEveryUpload(request.GetForm());
        }
    } else {
        close(fds[1]);
    }
    close(fds[0]);

    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CFormData multipart;
    multipart.SetMultipart(true);
    multipart.Body().assign(bytes);
    multipart.Parse();
    CopyEveryUpload(multipart);
    CFormData plain;
    plain.ParseUrlEncoded(bytes);
    return 0;
}
