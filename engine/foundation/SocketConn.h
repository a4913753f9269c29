// One TCP endpoint: a listener's socket, a server thread's accepted connection,
// or an outgoing client connection (mail, console).
//
// Time-outs: with SetTimeout(n > 0) every wait for the peer lasts at most n
// seconds; 0 waits for ever. SetDeadline bounds a whole exchange (e.g. a
// request header) on top of that. Failures are logged in fixed words unless
// logging is switched off (the console's client), and never throw.
//
// A read-ahead buffer serves ReadLine, Receive and DrainInput alike, so line
// reading costs one system call per buffer, not per byte.
//
// Threads: one thread uses a connection at a time, except Close and Shutdown,
// which another thread may call to break a blocked call. While another thread
// is inside a call, Close only shuts the socket down; the descriptor itself is
// closed by the next Close (or the destructor) once no call is running.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/ConnTransport.h"

class CSocketConn {
public:
    // Results of ReadLine; the values are those the reader has always returned.
    enum class ELineRead { kLine = 0, kTooLong = -1, kRecvError = -2, kClosed = -3 };

    static constexpr size_t kReadAheadSize = 16384;

    CSocketConn();
    ~CSocketConn();  // Close
    CSocketConn(const CSocketConn&) = delete;
    CSocketConn& operator=(const CSocketConn&) = delete;

    // Takes ownership of an open socket; the time-out becomes 0. A socket known to be
    // non-blocking already (accept4 with SOCK_NONBLOCK) is left as it is.
    void Attach(int fd, bool nonBlocking = false);
    // Moves other's connection into this one: socket, peer, SSL mark, its layer with the
    // handshake state, and the bytes read ahead of the reader (SetPreRead).
    void TakeOver(CSocketConn& other);
    // Bytes read from the peer before this connection's reader runs; every read serves
    // them first. With a layer installed they are its application data.
    void SetPreRead(std::string bytes);
    // Gives the socket up (blocking again) and forgets it; the time-out becomes 0.
    int Detach();

    // Binds a TCP socket to the dotted address (empty: every address) and port
    // and listens. On failure the socket stays in the object; Close it.
    bool Listen(const std::string& address, int port);

    // Accepts one connection into other (its socket and peer address). Returns
    // false when accept fails (for instance after Close from another thread),
    // without a log line.
    bool Accept(CSocketConn& other);

    // Connects to host:port. A host of digits and dots (or empty) must be a
    // valid IPv4 address; any other name is resolved. The wait is bounded by
    // the time-out set before the call. A failed connect leaves no socket.
    bool Connect(const std::string& host, int port);

    // Seconds to wait for the peer in every later call; 0 waits for ever.
    bool SetTimeout(int seconds);
    int GetTimeout() const { return m_timeout; }

    // From now on a peer that sends fewer than bytesPerSecond * window bytes within the
    // last window, once the first window has passed, times out like a silent one.
    void SetRateFloor(size_t bytesPerSecond, std::chrono::seconds window);
    void ClearRateFloor();

    // Bounds every wait until the point in time; passing it is a time-out.
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    void ClearDeadline() { m_deadline.reset(); }

    // Sends everything (through the transport when one is installed). A length
    // of -1 means up to the terminating NUL. False when not all was sent.
    bool Send(const char* data, long length = -1);
    bool Send(std::string_view data) { return Send(data.data(), static_cast<long>(data.size())); }

    // Send for the last bytes of a connection that is closed right after: on a plain socket
    // the last segment is held back (MSG_MORE) so that the close's FIN leaves in it, one
    // packet fewer per connection.
    bool SendBeforeClose(std::string_view data);

    // Sends head, then count bytes of the open file fd from offset: with
    // sendfile on a plain socket, through a read loop under a transport.
    // False on any failure, a file that ends early included.
    bool SendFile(std::string_view head, int fd, uint64_t offset, uint64_t count);

    // Up to size bytes: the count, 0 at the end of the connection, -1 on error.
    long Receive(char* buffer, size_t size);
    // Exactly count bytes; false on error or the end of the connection.
    bool ReceiveExact(char* buffer, size_t count);

    // Reads one line into buffer (size > 1), NUL-terminated, and stores the
    // count in *outLength when given. CR LF ends a line; CR followed by any
    // other byte drops both; a lone LF is stored. Returns kLine for a whole
    // line, kTooLong when size - 1 characters came without a line end (the rest
    // of the line stays for the next call; a CR LF that follows exactly is
    // taken as the line end), kRecvError, or kClosed.
    [[nodiscard]] ELineRead ReadLine(char* buffer, int size, int* outLength = nullptr);

    // One recv/send with the time-out wait, below any transport: the count
    // (0 = peer closed for recv) or -1 after logging.
    long RecvPlain(char* buffer, size_t size);
    long SendPlain(const char* data, size_t length, int flags = 0);
    bool SendAllPlain(const char* data, size_t length, int flags = 0);

    // Drops whatever input is already buffered or pending, without waiting.
    void DrainInput();

    // Ends the connection (see the threading note above). A second Close on a
    // closed connection does nothing.
    void Close();
    // Breaks the connection without closing the descriptor: blocked calls on
    // other threads return.
    void Shutdown();
    // The end of a server's answer: close notify, shutdown of the sending side,
    // then reads and drops what the peer still sends until it closes or the
    // linger time passed, so the peer reads the answer instead of a reset.
    // Then Close.
    void CloseGracefully(std::chrono::milliseconds linger = std::chrono::milliseconds(2000));
    // After a server's answer: CloseGracefully when the request left input unread (a body
    // refused unread), else Close at once.
    void CloseAfterAnswer(bool inputLeft,
                          std::chrono::milliseconds linger = std::chrono::milliseconds(2000));

    // Whether the connection has failed (an error or hang-up: a reset peer, or a Disconnect);
    // looks first a second after the connection was attached, then at most every 100 ms, and
    // says false in between. A peer that only ended its sending side has not left.
    bool HasPeerLeft();

    // For an answer that will begin with `lead`: lets CheckClientGone send that byte ahead.
    void SetAnswerLead(char lead);
    // From another thread while the answer is being made: whether the client has gone. An
    // error or hang-up says so at once. A client whose end of input came may only have
    // half-closed, so it is sent the answer's lead byte (once, and only before any of the
    // answer went out): a client that closed for good resets, which a later call sees.
    bool CheckClientGone();
    // Whether the whole of every send since Attach went out, and anything was sent at all.
    bool WasAnswerSentWhole() const { return m_sentAny && !m_sendFailed; }

    bool IsOpen() const { return m_fd >= 0; }
    int GetHandle() const { return m_fd; }

    // The peer filled in by Accept (or Connect).
    const sockaddr_in& GetPeerAddress() const { return m_peer; }
    void SetPeerAddress(const sockaddr_in& peer) { m_peer = peer; }
    std::string GetPeerAddressText() const;  // dotted; empty without a peer
    // The local port of the socket (a listener bound to port 0 learns its port).
    int GetLocalPort() const;

    // Marks a connection of the HTTPS listener; the layer itself comes with
    // SetTransport.
    void SetSslOn(bool on) { m_sslOn = on; }
    bool IsSslOn() const { return m_sslOn; }
    // Installs the layer that Send, Receive and Close go through from now on.
    void SetTransport(std::unique_ptr<CConnTransport> transport);
    // The same for a layer whose handshake is already done.
    void SetTransportReady(std::unique_ptr<CConnTransport> transport);
    void ResetTransport();
    bool HasTransport() const { return m_transport != nullptr; }

    // The console's client logs nothing.
    void SetLogging(bool on) { m_logging = on; }

private:
    class CCallScope;

    static constexpr int kTickMs = 1000;

    // Waits until fd is readable (or writable). 1 ready, 0 time-out, -1 error; with tick,
    // 2 when a second passed without either.
    int WaitFor(int fd, bool forWrite, bool tick);
    // True, with the failure logged, when a WaitFor result `ready` is a time-out (logged as
    // `timeoutText`) or an error.
    bool WaitFailed(int ready, const char* timeoutText);
    // Counts bytes received against the rate floor; false once the peer is below it.
    bool CountTowardsFloor(size_t bytes);
    // Fills the read-ahead buffer; the count, 0 at the end, -1 on error.
    long Refill();
    long ReceiveRaw(char* buffer, size_t size);
    bool EnsureHandshake();
    bool SendFileWhole(std::string_view head, int fd, uint64_t offset, uint64_t count);
    bool SendFileLoop(int fd, uint64_t offset, uint64_t count);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void CloseLocked();
    // The first send of the answer: how many bytes of `data` the lead sent ahead covers.
    size_t TakeLead(std::string_view data);
    // Notes a send's outcome for WasAnswerSentWhole.
    bool Sent(bool whole) {
        m_sentAny = true;
        m_sendFailed = m_sendFailed || !whole;
        return whole;
    }

    int m_fd;
    sockaddr_in m_peer;
    int m_timeout;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_sslOn;
    bool m_handshakeDone;
    bool m_handshakeFailed;
    bool m_logging;
    std::unique_ptr<CConnTransport> m_transport;
    std::mutex m_lock;         // guards m_fd against Close from another thread
    std::atomic<int> m_calls;  // calls running on the descriptor
    bool m_shutDown;           // shut down by Close while a call ran
    std::array<char, kReadAheadSize> m_readAhead;
    size_t m_readPos;
    size_t m_readEnd;
    std::string m_preRead;
    size_t m_preReadPos = 0;
    size_t m_floorBytes = 0;  // 0: no rate floor
    std::chrono::seconds m_floorWindow{0};
    std::chrono::steady_clock::time_point m_floorStart;
    std::vector<size_t> m_floorSeconds;  // bytes of each second of the window, round robin
    long long m_floorLast = 0;           // the last second counted
    std::chrono::steady_clock::time_point m_nextPeerCheck;
    bool m_sentAny = false;
    bool m_sendFailed = false;
    std::mutex m_answerLock;  // guards the three below against CheckClientGone
    char m_lead = 0;          // 0: no byte may be sent ahead
    bool m_leadSent = false;
    bool m_answerStarted = false;
};
