// Server-side TLS on one accepted connection, through OpenSSL. The records
// travel over the connection's own plain calls, so its time-outs, deadline and
// cross-thread shutdown bound every wait of the handshake and of each read and
// write, and their failures are logged by the connection as for plain traffic.
//
// Protocol and record failures are logged in these words:
//   handshake  "Accept Security Context Failed with error code %lx"
//   read       "Couldn't decrypt, error %lx"
//   write      " EncryptMessage failed with %#x"
//   goodbye    "**** Error %d sending close notify."
// (the codes are OpenSSL's packed error codes, or errno for the goodbye). A
// peer that closes the TCP stream, or a wait that times out, fails the call
// without a line of its own.
//
// With the plain-request hint on, a connection whose first byte is 'G', 'P',
// 'g' or 'p' (a browser that typed http:// for the secure port) logs
// "\r\nYou should type https://..., not http://... in your browser to access
// this secure web server." before its handshake fails.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <memory>
#include <mutex>

#include "engine/foundation/ConnTransport.h"

class CSslTransport : public CConnTransport {
public:
    // A fresh server session over ctx, which the session keeps alive. A null
    // ctx, or a session that cannot be made, fails the handshake.
    CSslTransport(SSL_CTX* ctx, bool plainRequestHint);
    ~CSslTransport() override;
    CSslTransport(const CSslTransport&) = delete;
    CSslTransport& operator=(const CSslTransport&) = delete;

    bool Handshake(CSocketConn& conn) override;

    // The same steps on a non-blocking socket of one's own, for an event loop: each call
    // goes as far as the socket's bytes allow.
    enum class EStep { Done, WantRead, WantWrite, Failed };
    [[nodiscard]] EStep HandshakeStep(int fd);
    // Application data after the handshake: the count, 0 at the end of the stream, -1 on
    // error; when no whole record is there yet, -2 with wantWrite telling which wait.
    long ReadStep(int fd, char* buffer, size_t size, bool& wantWrite);
    // The peer's close notify reads as the end of the stream (0); a TCP end
    // without one is a truncated stream (-1).
    long Read(CSocketConn& conn, char* buffer, size_t size) override;
    bool Write(CSocketConn& conn, const char* data, size_t length) override;
    // Sends close notify once; does not wait for the peer's. Called from
    // another thread (a connection broken from outside) while a call is under
    // way, it sends nothing and leaves that call to fail on the closed socket.
    void Shutdown(CSocketConn& conn) override;

private:
    struct CSslDeleter {
        void operator()(SSL* ssl) const;
    };
    class CBioAdapter;

    // Logs format with the first queued OpenSSL error unless the failure was
    // the wire's (already logged by the connection, or a peer that left).
    void LogFailure(int result, const char* format);

    std::mutex m_lock;  // one call on the session at a time
    std::unique_ptr<SSL, CSslDeleter> m_ssl;
    CSocketConn* m_conn = nullptr;  // the connection of the call in progress
    int m_rawFd = -1;               // or the non-blocking socket of a step
    bool m_plainRequestHint;
    bool m_firstRead = true;
    bool m_peerClosed = false;  // the TCP stream ended
    bool m_wireFailed = false;  // a plain send failed
    int m_sendErrno = 0;        // errno of that send
    bool m_broken = false;      // failed or said goodbye: nothing more goes through
};
