// libFuzzer target: arbitrary bytes arrive on a connection as a request, are read, parsed as
// form data and uploads, and parsed once more as a multipart and an url-encoded body.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SspValue.h"
#include "engine/web/FormData.h"
#include "engine/web/HttpRequest.h"

namespace {

// The reader runs on this thread, so the whole input must fit in the socket's buffer.
constexpr size_t kMaxInput = 60000;

void CopyEveryUpload(const CFormData& form) {
    CLongBinary data;
    std::string fileName;
    for (const auto& [name, value] : form.Values()) {
        form.CopyFilePart(name, fileName, data);
    }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return 0;
    }
    int buffer = 1 << 20;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (WriteAll(fds[0], data, size)) {
        shutdown(fds[0], SHUT_WR);
        CSocketConn conn;
        conn.Attach(fds[1]);
        conn.SetTimeout(1);
        CHttpRequest request(&conn);
        request.SetRootFolder("/nonexistent-root");
        if (request.ReadRequest() == CHttpRequest::READ_OK) {
            request.GetForm().Parse();
            CopyEveryUpload(request.GetForm());
            request.GetUrlDir();
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
