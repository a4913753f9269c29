#include "engine/foundation/SocketConn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SystemError.h"

namespace {

// A peer that vanished must not kill the process through SIGPIPE (sendfile has no
// MSG_NOSIGNAL).
void IgnoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

bool SetNonBlocking(int fd, bool on) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

bool IsDottedText(const std::string& host) {
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

using Clock = std::chrono::steady_clock;

}  // namespace

// Counts a running call so that Close from another thread leaves the descriptor open
// until the call is over.
class CSocketConn::CCallScope {
public:
    explicit CCallScope(CSocketConn& conn) : m_conn(conn) {
        std::lock_guard<std::mutex> guard(m_conn.m_lock);
        ++m_conn.m_calls;
        m_fd = m_conn.m_fd;
    }
    ~CCallScope() {
        std::lock_guard<std::mutex> guard(m_conn.m_lock);
        --m_conn.m_calls;
    }
    int Fd() const { return m_fd; }

private:
    CSocketConn& m_conn;
    int m_fd;
};

CSocketConn::CSocketConn()
    : m_fd(-1),
      m_peer{},
      m_timeout(0),
      m_sslOn(false),
      m_handshakeDone(false),
      m_handshakeFailed(false),
      m_logging(true),
      m_calls(0),
      m_shutDown(false),
      m_readPos(0),
      m_readEnd(0) {
    IgnoreSigpipeOnce();
}

CSocketConn::~CSocketConn() {
    Close();
}

void CSocketConn::Log(const char* format, ...) {
    if (!m_logging) {
        return;
    }
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_log.Log("%s", text);
}

void CSocketConn::Attach(int fd, bool nonBlocking) {
    Close();
    {
        // Taken before m_lock, as CheckClientGone takes them.
        std::lock_guard<std::mutex> answer(m_answerLock);
        m_lead = 0;
        m_leadSent = m_answerStarted = false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_fd = fd;
    m_timeout = 0;
    m_shutDown = false;
    // A layer belongs to one connection; the SSL flag stays, it is the listener's.
    m_transport.reset();
    m_handshakeDone = false;
    m_handshakeFailed = false;
    m_readPos = m_readEnd = 0;
    m_preRead.clear();
    m_preReadPos = 0;
    m_nextPeerCheck = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    m_sentAny = m_sendFailed = false;
    // Waits are done by poll, so the descriptor is always non-blocking underneath.
    if (fd >= 0 && !nonBlocking) {
        SetNonBlocking(fd, true);
    }
}

void CSocketConn::TakeOver(CSocketConn& other) {
    int fd;
    {
        std::lock_guard<std::mutex> guard(other.m_lock);
        fd = other.m_fd;
        other.m_fd = -1;
        other.m_timeout = 0;
    }
    Attach(fd, true);
    m_peer = other.m_peer;
    m_sslOn = other.m_sslOn;
    m_transport = std::move(other.m_transport);
    m_handshakeDone = other.m_handshakeDone;
    m_handshakeFailed = other.m_handshakeFailed;
    other.m_handshakeDone = other.m_handshakeFailed = false;
    m_preRead = std::move(other.m_preRead);
    m_preReadPos = other.m_preReadPos;
    other.m_preRead.clear();
    other.m_preReadPos = 0;
    other.m_readPos = other.m_readEnd = 0;
}

void CSocketConn::SetPreRead(std::string bytes) {
    m_preRead = std::move(bytes);
    m_preReadPos = 0;
}

void CSocketConn::SetTransportReady(std::unique_ptr<CConnTransport> transport) {
    m_transport = std::move(transport);
    m_handshakeDone = m_transport != nullptr;
    m_handshakeFailed = false;
}

int CSocketConn::Detach() {
    std::lock_guard<std::mutex> guard(m_lock);
    int fd = m_fd;
    if (fd >= 0) {
        SetNonBlocking(fd, false);
    }
    m_fd = -1;
    m_timeout = 0;
    m_readPos = m_readEnd = 0;
    m_preRead.clear();
    m_preReadPos = 0;
    m_transport.reset();
    return fd;
}

bool CSocketConn::Listen(const std::string& address, int port) {
    Close();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Log("Failed to create server socket.");
        return false;
    }
    Attach(fd);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = address.empty() ? htonl(INADDR_ANY) : inet_addr(address.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        Log("Failed to bind to %s:%d. This address and port may be used by another software "
            "such as IIS, or this computer's network connection is broken. ",
            address.c_str(), port);
        return false;
    }
    if (listen(fd, SOMAXCONN) != 0) {
        Log("Server socket failed to listen.");
        return false;
    }
    return true;
}

bool CSocketConn::Accept(CSocketConn& other) {
    CCallScope scope(*this);
    if (scope.Fd() < 0) {
        return false;
    }
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = accept4(scope.Fd(), reinterpret_cast<sockaddr*>(&peer), &len,
                         SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            other.Attach(fd, true);
            other.m_peer = peer;
            return true;
        }
        if (errno == EINTR || errno == ECONNABORTED) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        pollfd p{scope.Fd(), POLLIN, 0};
        int r = poll(&p, 1, -1);
        if (r < 0 && errno != EINTR) {
            return false;
        }
        // A listener shut down by another thread reports an error or hang-up here.
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            return false;
        }
    }
}

bool CSocketConn::Connect(const std::string& host, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (host.empty() || IsDottedText(host)) {
        in_addr_t a = inet_addr(host.c_str());
        if (a == INADDR_NONE) {
            Log("[%s] is an invalid IP address", host.c_str());
            return false;
        }
        addr.sin_addr.s_addr = a;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
            Log("[%s] not found", host.c_str());
            return false;
        }
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    int timeout = m_timeout;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Log("Failed to create socket");
        return false;
    }
    Attach(fd);
    m_timeout = timeout;
    m_peer = addr;
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int r;
        do {
            r = poll(&p, 1, m_timeout > 0 ? m_timeout * 1000 : -1);
        } while (r < 0 && errno == EINTR);
        int error = 0;
        socklen_t len = sizeof error;
        connected = r == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    }
    if (!connected) {
        Log("Failed to connect to %s:%d", host.c_str(), port);
        Close();
        m_timeout = timeout;
        return false;
    }
    return true;
}

bool CSocketConn::SetTimeout(int seconds) {
    // Attach made the descriptor non-blocking already; only the waits change.
    m_timeout = seconds;
    return true;
}

int CSocketConn::WaitFor(int fd, bool forWrite, bool tick) {
    const auto start = Clock::now();
    std::optional<Clock::time_point> end = m_deadline;
    if (m_timeout > 0 && (!end || start + std::chrono::seconds(m_timeout) < *end)) {
        end = start + std::chrono::seconds(m_timeout);
    }
    for (;;) {
        long long ms = -1;
        if (end) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*end - Clock::now());
            ms = std::clamp<long long>(left.count(), 0, INT_MAX);
        }
        const bool ticking = tick && (ms < 0 || ms > kTickMs);
        pollfd p{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
        int r = poll(&p, 1, static_cast<int>(ticking ? kTickMs : ms));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r == 0 && ticking) {
            return 2;
        }
        return r < 0 ? -1 : (r == 0 ? 0 : 1);
    }
}

void CSocketConn::SetRateFloor(size_t bytesPerSecond, std::chrono::seconds window) {
    m_floorBytes = bytesPerSecond * static_cast<size_t>(window.count());
    m_floorWindow = window;
    m_floorStart = Clock::now();
    // The seconds of the window and the one under way, which counts in the peer's favour.
    m_floorSeconds.assign(static_cast<size_t>(std::max<long long>(1, window.count())) + 1, 0);
    m_floorLast = 0;
}

void CSocketConn::ClearRateFloor() {
    m_floorBytes = 0;
    m_floorSeconds.clear();
}

bool CSocketConn::CountTowardsFloor(size_t bytes) {
    if (m_floorBytes == 0) {
        return true;
    }
    const long long second =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_floorStart).count();
    const size_t slots = m_floorSeconds.size();
    // The seconds that passed without a byte count as empty.
    for (long long s = m_floorLast + 1;
         s <= second && s <= m_floorLast + static_cast<long long>(slots); ++s) {
        m_floorSeconds[static_cast<size_t>(s) % slots] = 0;
    }
    m_floorLast = std::max(m_floorLast, second);
    m_floorSeconds[static_cast<size_t>(second) % slots] += bytes;
    if (second < m_floorWindow.count()) {
        return true;  // the first window is free
    }
    size_t sum = 0;
    for (size_t v : m_floorSeconds) {
        sum += v;
    }
    return sum >= m_floorBytes;
}

bool CSocketConn::WaitFailed(int ready, const char* timeoutText) {
    if (ready == 0) {
        Log("%s", timeoutText);
        return true;
    }
    if (ready < 0) {
        Log("Failed to select on socket");
        return true;
    }
    return false;
}

long CSocketConn::RecvPlain(char* buffer, size_t size) {
    CCallScope scope(*this);
    int fd = scope.Fd();
    if (fd < 0) {
        return -1;
    }
    for (;;) {
        ssize_t n = recv(fd, buffer, size, 0);
        if (n >= 0) {
            CountTowardsFloor(static_cast<size_t>(n));
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Log("Socket error [%d] when receiving.", errno);
            return -1;
        }
        int r;
        do {
            // A peer that trickles below the floor is cut off as one that sends nothing.
            r = CountTowardsFloor(0) ? WaitFor(fd, false, m_floorBytes > 0) : 0;
        } while (r == 2);
        if (WaitFailed(r, "Timeout receiving on socket")) {
            return -1;
        }
    }
}

long CSocketConn::SendPlain(const char* data, size_t length, int flags) {
    CCallScope scope(*this);
    int fd = scope.Fd();
    if (fd < 0) {
        return -1;
    }
    for (;;) {
        ssize_t n = send(fd, data, length, flags | MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Log("Socket error [%d] when sending.", errno);
            return -1;
        }
        if (WaitFailed(WaitFor(fd, true, false), "Timeout sending on socket")) {
            return -1;
        }
    }
}

bool CSocketConn::SendAllPlain(const char* data, size_t length, int flags) {
    while (length > 0) {
        long n = SendPlain(data, length, flags);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool CSocketConn::EnsureHandshake() {
    if (!m_transport || m_handshakeDone) {
        return true;
    }
    if (m_handshakeFailed) {
        return false;
    }
    m_handshakeDone = m_transport->Handshake(*this);
    m_handshakeFailed = !m_handshakeDone;
    return m_handshakeDone;
}

long CSocketConn::ReceiveRaw(char* buffer, size_t size) {
    if (m_preReadPos < m_preRead.size()) {
        size_t n = std::min(size, m_preRead.size() - m_preReadPos);
        memcpy(buffer, m_preRead.data() + m_preReadPos, n);
        m_preReadPos += n;
        if (m_preReadPos == m_preRead.size()) {
            m_preRead.clear();
            m_preReadPos = 0;
        }
        return static_cast<long>(n);
    }
    if (!m_transport) {
        return RecvPlain(buffer, size);
    }
    if (!EnsureHandshake()) {
        return -1;
    }
    return m_transport->Read(*this, buffer, size);
}

long CSocketConn::Refill() {
    m_readPos = m_readEnd = 0;
    long n = ReceiveRaw(m_readAhead.data(), m_readAhead.size());
    if (n > 0) {
        m_readEnd = static_cast<size_t>(n);
    }
    return n;
}

long CSocketConn::Receive(char* buffer, size_t size) {
    if (size == 0) {
        return 0;
    }
    if (m_readPos < m_readEnd) {
        size_t n = std::min(size, m_readEnd - m_readPos);
        memcpy(buffer, m_readAhead.data() + m_readPos, n);
        m_readPos += n;
        return static_cast<long>(n);
    }
    // Large reads go straight to the caller's buffer.
    if (size >= m_readAhead.size()) {
        return ReceiveRaw(buffer, size);
    }
    long n = Refill();
    if (n <= 0) {
        return n;
    }
    size_t take = std::min(size, m_readEnd);
    memcpy(buffer, m_readAhead.data(), take);
    m_readPos = take;
    return static_cast<long>(take);
}

bool CSocketConn::ReceiveExact(char* buffer, size_t count) {
    while (count > 0) {
        long n = Receive(buffer, count);
        if (n <= 0) {
            return false;
        }
        buffer += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

CSocketConn::ELineRead CSocketConn::ReadLine(char* buffer, int size, int* outLength) {
    int stored = 0;
    bool afterCr = false;
    auto finish = [&](ELineRead code) {
        if (size > 0) {
            buffer[stored] = '\0';
        }
        if (outLength != nullptr) {
            *outLength = stored;
        }
        return code;
    };
    if (size < 1) {
        return finish(ELineRead::kTooLong);
    }
    for (;;) {
        if (m_readPos >= m_readEnd) {
            long n = Refill();
            if (n < 0) {
                return finish(ELineRead::kRecvError);
            }
            if (n == 0) {
                return finish(ELineRead::kClosed);
            }
        }
        char c = m_readAhead[m_readPos];
        if (stored >= size - 1 && !afterCr && c != '\r') {
            // Full: the rest of the line stays for the next call.
            return finish(ELineRead::kTooLong);
        }
        ++m_readPos;
        if (afterCr) {
            afterCr = false;
            if (c == '\n') {
                return finish(ELineRead::kLine);
            }
            continue;  // CR and the byte after it are dropped
        }
        if (c == '\r') {
            afterCr = true;
            continue;
        }
        buffer[stored++] = c;
    }
}

void CSocketConn::DrainInput() {
    m_readPos = m_readEnd = 0;
    m_preRead.clear();
    m_preReadPos = 0;
    if (m_transport) {
        return;  // raw bytes of a record cannot be dropped without breaking the stream
    }
    CCallScope scope(*this);
    int fd = scope.Fd();
    if (fd < 0) {
        return;
    }
    // Reads until the socket would block: an empty socket costs one call.
    while (recv(fd, m_readAhead.data(), m_readAhead.size(), MSG_DONTWAIT) > 0) {
    }
}

size_t CSocketConn::TakeLead(std::string_view data) {
    std::lock_guard<std::mutex> answer(m_answerLock);
    m_answerStarted = true;
    if (!m_leadSent || data.empty()) {
        return 0;
    }
    m_leadSent = false;
    return data[0] == m_lead ? 1 : 0;
}

bool CSocketConn::Send(const char* data, long length) {
    if (data == nullptr) {
        return length <= 0;
    }
    size_t len = length < 0 ? strlen(data) : static_cast<size_t>(length);
    const size_t ahead = TakeLead(std::string_view(data, len));
    data += ahead;
    len -= ahead;
    if (!m_transport) {
        return Sent(SendAllPlain(data, len));
    }
    return Sent(EnsureHandshake() && m_transport->Write(*this, data, len));
}

bool CSocketConn::SendBeforeClose(std::string_view data) {
    if (m_transport) {
        return Send(data);
    }
    data.remove_prefix(TakeLead(data));
    return Sent(SendAllPlain(data.data(), data.size(), MSG_MORE));
}

bool CSocketConn::SendFile(std::string_view head, int fd, uint64_t offset, uint64_t count) {
    head.remove_prefix(TakeLead(head));
    return Sent(SendFileWhole(head, fd, offset, count));
}

bool CSocketConn::SendFileWhole(std::string_view head, int fd, uint64_t offset, uint64_t count) {
    if (m_transport) {
        if (!EnsureHandshake()) {
            return false;
        }
        // Head and the first part of the file go out in one record.
        std::array<char, 65536> chunk;
        size_t used = std::min(head.size(), chunk.size());
        memcpy(chunk.data(), head.data(), used);
        if (used < head.size()) {
            if (!m_transport->Write(*this, head.data(), head.size())) {
                return false;
            }
            used = 0;
        }
        while (count > 0 || used > 0) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(count, chunk.size() - used));
            if (want > 0) {
                ssize_t n = pread(fd, chunk.data() + used, want, static_cast<off_t>(offset));
                if (n <= 0) {
                    return false;
                }
                used += static_cast<size_t>(n);
                offset += static_cast<uint64_t>(n);
                count -= static_cast<uint64_t>(n);
            }
            if (!m_transport->Write(*this, chunk.data(), used)) {
                return false;
            }
            used = 0;
        }
        return true;
    }
    // MSG_MORE lets the kernel put the head and the start of the file in one segment.
    if (!head.empty() && !SendAllPlain(head.data(), head.size(), count > 0 ? MSG_MORE : 0)) {
        return false;
    }
    return SendFileLoop(fd, offset, count);
}

bool CSocketConn::SendFileLoop(int fd, uint64_t offset, uint64_t count) {
    CCallScope scope(*this);
    int sock = scope.Fd();
    if (sock < 0) {
        return false;
    }
    off_t pos = static_cast<off_t>(offset);
    while (count > 0) {
        size_t piece = static_cast<size_t>(std::min<uint64_t>(count, 1u << 30));
        ssize_t n = sendfile(sock, fd, &pos, piece);
        if (n > 0) {
            count -= static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0) {
            return false;  // the file ended early (truncated while being sent)
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Log("Socket error [%d] when sending.", errno);
            return false;
        }
        if (WaitFailed(WaitFor(sock, true, false), "Timeout sending on socket")) {
            return false;
        }
    }
    return true;
}

void CSocketConn::SetTransport(std::unique_ptr<CConnTransport> transport) {
    m_transport = std::move(transport);
    m_handshakeDone = false;
    m_handshakeFailed = false;
}

void CSocketConn::ResetTransport() {
    m_transport.reset();
    m_handshakeDone = false;
    m_handshakeFailed = false;
}

void CSocketConn::Shutdown() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
        m_shutDown = true;
    }
}

void CSocketConn::CloseLocked() {
    if (m_fd < 0) {
        return;
    }
    if (!m_shutDown && ::shutdown(m_fd, SHUT_RDWR) != 0 && errno != ENOTCONN &&
        errno != EINPROGRESS) {
        Log("%s Failed to shutdown socket [%d]", FormatSystemError(errno).c_str(), m_fd);
    }
    if (::close(m_fd) != 0) {
        Log("%s Failed to closesocket [%d]", FormatSystemError(errno).c_str(), m_fd);
    }
    m_fd = -1;
    m_shutDown = false;
    m_readPos = m_readEnd = 0;
    m_transport.reset();
    m_handshakeDone = false;
    m_handshakeFailed = false;
}

void CSocketConn::Close() {
    {
        // No byte goes ahead of an answer that has ended.
        std::lock_guard<std::mutex> answer(m_answerLock);
        m_answerStarted = true;
    }
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_fd < 0) {
        return;
    }
    if (m_calls > 0) {
        // Another thread is inside a call on this descriptor: wake it, leave the close
        // to the next Close once the call is over.
        ::shutdown(m_fd, SHUT_RDWR);
        m_shutDown = true;
        return;
    }
    if (m_transport && m_handshakeDone) {
        guard.unlock();
        m_transport->Shutdown(*this);
        guard.lock();
        m_handshakeDone = false;
        if (m_fd < 0 || m_calls > 0) {
            return;
        }
    }
    CloseLocked();
}

void CSocketConn::CloseAfterAnswer(bool inputLeft, std::chrono::milliseconds linger) {
    if (inputLeft) {
        CloseGracefully(linger);
    } else {
        Close();
    }
}

void CSocketConn::CloseGracefully(std::chrono::milliseconds linger) {
    if (m_fd < 0) {
        return;
    }
    {
        // The layer's close notify must not meet a lead byte sent from another thread.
        std::lock_guard<std::mutex> answer(m_answerLock);
        m_answerStarted = true;
    }
    if (m_transport && m_handshakeDone) {
        m_transport->Shutdown(*this);
        m_handshakeDone = false;
    }
    {
        CCallScope scope(*this);
        int fd = scope.Fd();
        if (fd >= 0 && ::shutdown(fd, SHUT_WR) == 0) {
            {
                // Close must not shut down a second time.
                std::lock_guard<std::mutex> guard(m_lock);
                m_shutDown = true;
            }
            auto end = Clock::now() + linger;
            for (;;) {
                auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
                if (left.count() <= 0) {
                    break;
                }
                pollfd p{fd, POLLIN, 0};
                int r = poll(&p, 1, static_cast<int>(left.count()));
                if (r < 0 && errno == EINTR) {
                    continue;
                }
                if (r <= 0) {
                    break;
                }
                ssize_t n = recv(fd, m_readAhead.data(), m_readAhead.size(), MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    break;
                }
            }
        }
    }
    Close();
}

bool CSocketConn::HasPeerLeft() {
    const auto now = Clock::now();
    if (now < m_nextPeerCheck) {
        return false;
    }
    m_nextPeerCheck = now + std::chrono::milliseconds(100);
    CCallScope scope(*this);
    if (scope.Fd() < 0) {
        return true;
    }
    // The end of the client's input alone is a half-close, not a departure.
    pollfd p{scope.Fd(), 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

void CSocketConn::SetAnswerLead(char lead) {
    std::lock_guard<std::mutex> answer(m_answerLock);
    m_lead = m_answerStarted ? 0 : lead;
}

bool CSocketConn::CheckClientGone() {
    std::lock_guard<std::mutex> answer(m_answerLock);
    if (m_answerStarted) {
        return false;  // the answer's own sends tell
    }
    int fd;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        fd = m_fd;
    }
    if (fd < 0) {
        return false;
    }
    // The descriptor stays open meanwhile: Close takes the answer lock first.
    pollfd p{fd, POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) {
        return false;
    }
    if ((p.revents & (POLLHUP | POLLERR)) != 0) {
        return true;
    }
    if ((p.revents & POLLRDHUP) == 0 || m_lead == 0 || m_leadSent) {
        return false;
    }
    if (m_transport) {
        // Only the owner touches the layer otherwise, and it sends nothing before the answer
        // starts, which waits for this lock.
        m_leadSent = m_handshakeDone && m_transport->Write(*this, &m_lead, 1);
        return false;
    }
    const ssize_t n = send(fd, &m_lead, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    m_leadSent = n == 1;
    return n < 0 && (errno == EPIPE || errno == ECONNRESET);
}

std::string CSocketConn::GetPeerAddressText() const {
    if (m_peer.sin_family != AF_INET) {
        return std::string();
    }
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &m_peer.sin_addr, text, sizeof text);
    return text;
}

int CSocketConn::GetLocalPort() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (m_fd < 0 || getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}
