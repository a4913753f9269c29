#include "engine/testsupport/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>

namespace {

constexpr auto kPatience = std::chrono::seconds(15);

// Waits for fd to become readable in short slices, so a stop is seen soon; false on stop,
// error or when the patience ran out.
bool WaitReadable(int fd, const std::atomic<bool>& stop) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready != 0) {
            return ready > 0;
        }
    }
    return false;
}

}  // namespace

CLoopbackPeer::CLoopbackPeer() : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const int on = 1;
    ::setsockopt(m_listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::listen(m_listener.Get(), 4) == 0 &&
        ::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        m_port = ntohs(address.sin_port);
    }
}

CLoopbackPeer::~CLoopbackPeer() {
    Stop();
}

void CLoopbackPeer::Start() {
    m_thread = std::thread([this] {
        Serve();
        Close();
        m_bDone = true;
    });
}

void CLoopbackPeer::Stop() {
    m_bStop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CLoopbackPeer::Finish() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!m_bDone && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
}

std::vector<std::string> CLoopbackPeer::Lines() {
    Finish();
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool CLoopbackPeer::Received(const std::string& prefix) {
    for (const std::string& line : Lines()) {
        if (line.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

bool CLoopbackPeer::Accept() {
    if (!WaitReadable(m_listener.Get(), m_bStop)) {
        return false;
    }
    m_conn.emplace(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    return m_conn->Get() >= 0;
}

bool CLoopbackPeer::Fill() {
    if (!m_conn) {
        return false;
    }
    if (!WaitReadable(m_conn->Get(), m_bStop)) {
        return false;
    }
    char chunk[4096];
    const ssize_t got = ::recv(m_conn->Get(), chunk, sizeof chunk, 0);
    if (got <= 0) {
        return false;
    }
    m_pending.append(chunk, static_cast<size_t>(got));
    return true;
}

bool CLoopbackPeer::ReadThrough(const std::string& end, std::string& data) {
    for (;;) {
        const size_t at = m_pending.find(end);
        if (at != std::string::npos) {
            data = m_pending.substr(0, at + end.size());
            m_pending.erase(0, at + end.size());
            return true;
        }
        if (!Fill()) {
            return false;
        }
    }
}

bool CLoopbackPeer::ReadLine(std::string& line) {
    if (!ReadThrough("\r\n", line)) {
        return false;
    }
    line.resize(line.size() - 2);
    std::lock_guard lock(m_mutex);
    m_lines.push_back(line);
    return true;
}

bool CLoopbackPeer::Send(const std::string& bytes) {
    if (!m_conn) {
        return false;
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(m_conn->Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}
