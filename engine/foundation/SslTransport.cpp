#include "engine/foundation/SslTransport.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"

namespace {

// One record's worth of plain text per write, as the peer expects records.
constexpr size_t kRecordData = 16384;

bool IsPeerLeaving(unsigned long code) {
    return ERR_GET_LIB(code) == ERR_LIB_SSL &&
           ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

}  // namespace

// The BIO under the session: its reads and writes are the connection's plain
// calls, made on the connection of the call in progress.
class CSslTransport::CBioAdapter {
public:
    static BIO_METHOD* Method() {
        static BIO_METHOD* method = [] {
            BIO_METHOD* m =
                BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "velmorin connection");
            BIO_meth_set_write(m, Write);
            BIO_meth_set_read(m, Read);
            BIO_meth_set_ctrl(m, Ctrl);
            BIO_meth_set_create(m, Create);
            return m;
        }();
        return method;
    }

private:
    static constexpr long kWouldBlock = -2;

    static CSslTransport* Of(BIO* bio) { return static_cast<CSslTransport*>(BIO_get_data(bio)); }

    // One non-blocking call; a socket that would block asks OpenSSL to retry later.
    template <typename F>
    static long RawCall(BIO* bio, F call, bool forWrite) {
        for (;;) {
            ssize_t n = call();
            if (n >= 0) {
                return static_cast<long>(n);
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (forWrite) {
                    BIO_set_retry_write(bio);
                } else {
                    BIO_set_retry_read(bio);
                }
                return kWouldBlock;
            }
            return -1;
        }
    }

    static int Create(BIO* bio) {
        BIO_set_init(bio, 1);
        return 1;
    }

    static int Read(BIO* bio, char* out, int size) {
        BIO_clear_retry_flags(bio);
        CSslTransport* self = Of(bio);
        if (self == nullptr || (self->m_conn == nullptr && self->m_rawFd < 0) || size <= 0) {
            return -1;
        }
        long n;
        if (self->m_conn != nullptr) {
            n = self->m_conn->RecvPlain(out, static_cast<size_t>(size));
        } else {
            n = RawCall(
                bio, [&] { return recv(self->m_rawFd, out, static_cast<size_t>(size), 0); }, false);
            if (n == kWouldBlock) {
                return -1;
            }
        }
        if (n == 0) {
            self->m_peerClosed = true;
            return 0;
        }
        if (n < 0) {
            return -1;
        }
        if (self->m_firstRead) {
            self->m_firstRead = false;
            char c = out[0];
            if (self->m_plainRequestHint && (c == 'G' || c == 'P' || c == 'g' || c == 'p')) {
                g_log.Log("%s",
                          "\r\nYou should type https://..., not http://... in your browser to "
                          "access this secure web server.");
            }
        }
        return static_cast<int>(n);
    }

    static int Write(BIO* bio, const char* data, int size) {
        BIO_clear_retry_flags(bio);
        CSslTransport* self = Of(bio);
        if (self == nullptr || (self->m_conn == nullptr && self->m_rawFd < 0) || size < 0) {
            return -1;
        }
        if (self->m_conn == nullptr) {
            long n = RawCall(
                bio,
                [&] { return send(self->m_rawFd, data, static_cast<size_t>(size), MSG_NOSIGNAL); },
                true);
            if (n < 0 && n != kWouldBlock) {
                self->m_sendErrno = errno;
                self->m_wireFailed = true;
            }
            return n < 0 ? -1 : static_cast<int>(n);
        }
        errno = 0;
        if (!self->m_conn->SendAllPlain(data, static_cast<size_t>(size))) {
            self->m_sendErrno = errno;
            self->m_wireFailed = true;
            return -1;
        }
        return size;
    }

    static long Ctrl(BIO* bio, int command, long, void*) {
        switch (command) {
            case BIO_CTRL_FLUSH:
                return 1;  // every write went out at once
            case BIO_CTRL_EOF: {
                CSslTransport* self = Of(bio);
                return self != nullptr && self->m_peerClosed ? 1 : 0;
            }
            default:
                return 0;
        }
    }
};

void CSslTransport::CSslDeleter::operator()(SSL* ssl) const {
    SSL_free(ssl);
}

CSslTransport::CSslTransport(SSL_CTX* ctx, bool plainRequestHint)
    : m_plainRequestHint(plainRequestHint) {
    if (ctx == nullptr) {
        return;
    }
    m_ssl.reset(SSL_new(ctx));
    BIO* bio = m_ssl ? BIO_new(CBioAdapter::Method()) : nullptr;
    if (bio == nullptr) {
        m_ssl.reset();
        ERR_clear_error();
        return;
    }
    BIO_set_data(bio, this);
    SSL_set_bio(m_ssl.get(), bio, bio);  // the session owns the BIO from here on
    SSL_set_accept_state(m_ssl.get());
    // Whole segments at a time: a record header and its body cost one receive.
    SSL_set_read_ahead(m_ssl.get(), 1);
}

CSslTransport::~CSslTransport() = default;

void CSslTransport::LogFailure(int result, const char* format) {
    int error = SSL_get_error(m_ssl.get(), result);
    unsigned long code = ERR_peek_error();
    if (error == SSL_ERROR_SSL && !(m_peerClosed && IsPeerLeaving(code))) {
        g_log.Log(format, code);
    }
    ERR_clear_error();
}

bool CSslTransport::Handshake(CSocketConn& conn) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_conn = &conn;
    if (!m_ssl) {
        g_log.Log("Accept Security Context Failed with error code %lx", 0UL);
        return false;
    }
    ERR_clear_error();
    m_wireFailed = false;
    int result = SSL_accept(m_ssl.get());
    if (result == 1) {
        return true;
    }
    m_broken = true;
    const bool refused = SSL_get_error(m_ssl.get(), result) == SSL_ERROR_SSL;
    LogFailure(result, "Accept Security Context Failed with error code %lx");
    if (m_wireFailed) {
        // Either the server's own flight or, after a refusal, its closing alert was lost.
        g_log.Log("%s", refused ? "Error disconnecting from client."
                                : "Failed to send handshake to client");
    }
    return false;
}

CSslTransport::EStep CSslTransport::HandshakeStep(int fd) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_ssl) {
        g_log.Log("Accept Security Context Failed with error code %lx", 0UL);
        return EStep::Failed;
    }
    m_conn = nullptr;
    m_rawFd = fd;
    ERR_clear_error();
    int result = SSL_accept(m_ssl.get());
    m_rawFd = -1;
    if (result == 1) {
        return EStep::Done;
    }
    switch (SSL_get_error(m_ssl.get(), result)) {
        case SSL_ERROR_WANT_READ:
            return EStep::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return EStep::WantWrite;
        default:
            break;
    }
    m_broken = true;
    LogFailure(result, "Accept Security Context Failed with error code %lx");
    return EStep::Failed;
}

long CSslTransport::ReadStep(int fd, char* buffer, size_t size, bool& wantWrite) {
    std::lock_guard<std::mutex> guard(m_lock);
    wantWrite = false;
    if (!m_ssl || m_broken) {
        return -1;
    }
    m_conn = nullptr;
    m_rawFd = fd;
    ERR_clear_error();
    int n = SSL_read(m_ssl.get(), buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    m_rawFd = -1;
    if (n > 0) {
        return n;
    }
    switch (SSL_get_error(m_ssl.get(), n)) {
        case SSL_ERROR_ZERO_RETURN:
            ERR_clear_error();
            return 0;
        case SSL_ERROR_WANT_READ:
            return -2;
        case SSL_ERROR_WANT_WRITE:
            wantWrite = true;
            return -2;
        default:
            break;
    }
    m_broken = true;
    LogFailure(n, "Couldn't decrypt, error %lx");
    return -1;
}

long CSslTransport::Read(CSocketConn& conn, char* buffer, size_t size) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_conn = &conn;
    if (!m_ssl || m_broken) {
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    ERR_clear_error();
    int n = SSL_read(m_ssl.get(), buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    if (n > 0) {
        return n;
    }
    if (SSL_get_error(m_ssl.get(), n) == SSL_ERROR_ZERO_RETURN) {
        ERR_clear_error();
        return 0;
    }
    m_broken = true;
    LogFailure(n, "Couldn't decrypt, error %lx");
    return -1;
}

bool CSslTransport::Write(CSocketConn& conn, const char* data, size_t length) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_conn = &conn;
    if (!m_ssl || m_broken) {
        return false;
    }
    while (length > 0) {
        size_t piece = std::min(length, kRecordData);
        ERR_clear_error();
        int n = SSL_write(m_ssl.get(), data, static_cast<int>(piece));
        if (n <= 0) {
            m_broken = true;
            int error = SSL_get_error(m_ssl.get(), n);
            if (error == SSL_ERROR_SSL) {
                g_log.Log(" EncryptMessage failed with %#x",
                          static_cast<unsigned>(ERR_peek_error()));
            }
            ERR_clear_error();
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void CSslTransport::Shutdown(CSocketConn& conn) {
    std::unique_lock<std::mutex> guard(m_lock, std::try_to_lock);
    if (!guard.owns_lock()) {
        return;  // the session is busy on its own thread; a goodbye now would race it
    }
    m_conn = &conn;
    if (!m_ssl || m_broken) {
        return;
    }
    m_broken = true;  // nothing may follow the goodbye
    m_wireFailed = false;
    ERR_clear_error();
    if (SSL_shutdown(m_ssl.get()) < 0) {
        if (m_wireFailed) {
            g_log.Log("**** Error %d sending close notify.", m_sendErrno);
        } else {
            g_log.Log("**** Error 0x%x returned by AcceptSecurityContext",
                      static_cast<unsigned>(ERR_peek_error()));
        }
    }
    ERR_clear_error();
}
