#include "engine/web/PendingHeads.h"

#include <sys/epoll.h>

#include <utility>

#include "engine/foundation/SslTransport.h"

CPendingHeads::CPendingHeads(int epollFd, HandOver handOver)
    : m_epoll(epollFd), m_handOver(std::move(handOver)) {}

CPendingHeads::~CPendingHeads() = default;

void CPendingHeads::Add(int fd, const sockaddr_in& peer, std::unique_ptr<CSslTransport> tls,
                        Clock::time_point deadline) {
    m_order.emplace_back(fd, peer, std::move(tls), deadline);
    // Most clients send their head with the connection: read at once, it never needs the
    // epoll set.
    Step(std::prev(m_order.end()));
}

void CPendingHeads::OnReady(int fd) {
    auto found = m_byFd.find(fd);
    if (found != m_byFd.end()) {
        Step(found->second);
    }
}

void CPendingHeads::Step(List::iterator it) {
    CEntry& entry = *it;
    const CHeadReader::EState state = entry.m_reader.Advance();
    if (state == CHeadReader::EState::kReading || state == CHeadReader::EState::kWriting) {
        const bool writing = state == CHeadReader::EState::kWriting;
        if (!entry.m_registered || writing != entry.m_writing) {
            epoll_event event{};
            event.events = writing ? EPOLLOUT : EPOLLIN;
            event.data.fd = entry.m_reader.Fd();
            if (epoll_ctl(m_epoll, entry.m_registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD,
                          event.data.fd, &event) != 0) {
                Remove(it);  // closes it
                return;
            }
            if (!entry.m_registered) {
                m_byFd[event.data.fd] = it;
                entry.m_registered = true;
            }
            entry.m_writing = writing;
        }
        return;
    }
    if (state == CHeadReader::EState::kComplete) {
        if (entry.m_registered) {
            // The socket lives on in a server thread: the loop must stop watching it.
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, entry.m_reader.Fd(), nullptr);
            m_byFd.erase(entry.m_reader.Fd());
        }
        m_handOver(entry.m_reader);
        m_order.erase(it);
        return;
    }
    Remove(it);
}

void CPendingHeads::Remove(List::iterator it) {
    // Closing the socket takes it out of the epoll set as well.
    m_byFd.erase(it->m_reader.Fd());
    m_order.erase(it);
}

void CPendingHeads::CloseOldest() {
    if (!m_order.empty()) {
        Remove(m_order.begin());
    }
}

std::size_t CPendingHeads::CloseExpired(Clock::time_point now) {
    std::size_t closed = 0;
    while (!m_order.empty() && m_order.front().m_reader.Deadline() <= now) {
        Remove(m_order.begin());
        ++closed;
    }
    return closed;
}

std::optional<CPendingHeads::Clock::time_point> CPendingHeads::NextDeadline() const {
    if (m_order.empty()) {
        return std::nullopt;
    }
    return m_order.front().m_reader.Deadline();
}
