// The connections a listener's event loop holds while their request heads arrive, oldest
// first (every head has the same time-out, so the oldest has the nearest deadline). Each is
// registered with the loop's epoll set for the wait its reader asks for; a complete head is
// taken out of the set and given to the caller's hand-over.
//
// Used by the loop's thread only.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>

#include "engine/web/HeadReader.h"

class CSslTransport;

class CPendingHeads {
public:
    using Clock = std::chrono::steady_clock;
    // Takes the connection of a complete head (CHeadReader::HandOver).
    using HandOver = std::function<void(CHeadReader&)>;

    CPendingHeads(int epollFd, HandOver handOver);
    ~CPendingHeads();
    CPendingHeads(const CPendingHeads&) = delete;
    CPendingHeads& operator=(const CPendingHeads&) = delete;

    // Takes a newly accepted non-blocking socket and reads what has arrived already; only a
    // connection that has to wait for more joins the epoll set.
    void Add(int fd, const sockaddr_in& peer, std::unique_ptr<CSslTransport> tls,
             Clock::time_point deadline);
    // The socket fd is ready: reads on. An fd that is not held is ignored.
    void OnReady(int fd);
    // Closes the oldest waiting connection.
    void CloseOldest();
    // Closes every connection whose deadline is not after now; returns how many.
    std::size_t CloseExpired(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;
    std::size_t Size() const { return m_order.size(); }

private:
    struct CEntry {
        template <typename... Args>
        explicit CEntry(Args&&... args) : m_reader(std::forward<Args>(args)...) {}
        CHeadReader m_reader;
        bool m_registered = false;  // in the epoll set
        bool m_writing = false;     // registered for writability
    };
    using List = std::list<CEntry>;

    void Step(List::iterator it);
    void Remove(List::iterator it);

    int m_epoll;
    HandOver m_handOver;
    List m_order;
    std::unordered_map<int, List::iterator> m_byFd;
};
