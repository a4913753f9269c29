// One accepted connection while the listener's event loop reads its request head: the TLS
// handshake first on the HTTPS port, then the bytes until the head is complete (CHeadScanner)
// or the head cap is reached; a POST whose body is at most kMaxBodyBytes is waited for with
// its body, so that small forms sent slowly hold no server thread either. Each Advance goes
// as far as the non-blocking socket allows.
// Once complete, HandOver moves the socket, the peer, the TLS layer and every byte read into
// a server thread's connection record, whose reader then finds the head in memory.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/foundation/UniqueFd.h"
#include "engine/web/HeadScanner.h"

class CSocketConn;
class CSslTransport;

class CHeadReader {
public:
    using Clock = std::chrono::steady_clock;

    enum class EState {
        kReading,   // wait until the socket is readable
        kWriting,   // wait until the socket is writable (a TLS handshake message)
        kComplete,  // HandOver
        kFinished,  // the peer left or failed: close
    };

    // Bytes read without a complete head after which the request reader takes over (and
    // refuses the head as too large).
    static const size_t kMaxBytes;
    static const size_t kMaxBodyBytes;

    // A non-blocking socket `fd` from `peer`; `tls` is its TLS layer on the HTTPS port, else
    // nullptr. The head must be complete by `deadline`.
    CHeadReader(int fd, const sockaddr_in& peer, std::unique_ptr<CSslTransport> tls,
                Clock::time_point deadline);
    ~CHeadReader();
    CHeadReader(const CHeadReader&) = delete;
    CHeadReader& operator=(const CHeadReader&) = delete;

    EState Advance();

    int Fd() const { return m_fd.Get(); }
    Clock::time_point Deadline() const { return m_deadline; }

    // Whether the first word of what was read is a console command.
    bool IsConsoleCommand() const;

    // Moves the connection into conn (which is then SSL-marked when it came over TLS).
    void HandOver(CSocketConn& conn);

private:
    EState ReadPlain();
    EState ReadTls();
    EState Take(const char* data, size_t count);

    CUniqueFd m_fd;
    sockaddr_in m_peer;
    std::unique_ptr<CSslTransport> m_tls;
    bool m_handshakeDone = false;
    Clock::time_point m_deadline;
    std::string m_bytes;
    CHeadScanner m_scanner;
    size_t m_needed = 0;  // bytes of head and awaited body, once the head is complete
};
