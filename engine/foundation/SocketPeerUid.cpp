#include "engine/foundation/SocketPeerUid.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/foundation/UniqueFd.h"

namespace {

// Every TCP state: the peer's socket may already be closing.
constexpr unsigned kAllStates = 0xFFF;

struct CRequest {
    nlmsghdr m_header;
    inet_diag_req_v2 m_diag;
};

// Copies an address's bytes and port (network order) into a diag socket id's end.
bool FillEnd(const sockaddr_storage& address, __be32* bytes, __be16& port) {
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        std::memcpy(bytes, &in.sin_addr, sizeof(in.sin_addr));
        port = in.sin_port;
        return true;
    }
    if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::memcpy(bytes, &in6.sin6_addr, sizeof(in6.sin6_addr));
        port = in6.sin6_port;
        return true;
    }
    return false;
}

}  // namespace

bool FindTcpPeerUid(int fd, uid_t& uid) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localLength = sizeof(local);
    socklen_t peerLength = sizeof(peer);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        local.ss_family != peer.ss_family) {
        return false;
    }
    CRequest request{};
    request.m_header.nlmsg_len = sizeof(request);
    request.m_header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.m_header.nlmsg_flags = NLM_F_REQUEST;
    request.m_diag.sdiag_family = static_cast<__u8>(peer.ss_family);
    request.m_diag.sdiag_protocol = IPPROTO_TCP;
    request.m_diag.idiag_states = kAllStates;
    // The socket sought is the peer's: its own end is our far end, and the other way round.
    inet_diag_sockid& id = request.m_diag.id;
    if (!FillEnd(peer, id.idiag_src, id.idiag_sport) ||
        !FillEnd(local, id.idiag_dst, id.idiag_dport)) {
        return false;
    }
    id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    CUniqueFd diag(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (diag.Get() < 0) {
        return false;
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(diag.Get(), &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof(kernel)) != static_cast<ssize_t>(sizeof(request))) {
        return false;
    }
    alignas(nlmsghdr) char buffer[8192];
    ssize_t n = 0;
    do {
        n = ::recv(diag.Get(), buffer, sizeof(buffer), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        return false;
    }
    int left = static_cast<int>(n);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
            header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            return false;  // NLMSG_ERROR: no such socket, or not allowed to ask
        }
        const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
        if (message->id.idiag_sport != id.idiag_sport ||
            message->id.idiag_dport != id.idiag_dport ||
            std::memcmp(message->id.idiag_src, id.idiag_src, sizeof(id.idiag_src)) != 0 ||
            std::memcmp(message->id.idiag_dst, id.idiag_dst, sizeof(id.idiag_dst)) != 0) {
            continue;
        }
        uid = message->idiag_uid;
        return true;
    }
    return false;
}
