#include "server/LocalPeer.h"

#include <arpa/inet.h>
#include <sys/socket.h>

bool IsLocalPeer(const sockaddr_in& peer, const sockaddr_in& local) {
    if (peer.sin_family != AF_INET) {
        return false;
    }
    const uint32_t address = ntohl(peer.sin_addr.s_addr);
    if ((address >> 24) == 127) {
        return true;
    }
    return local.sin_family == AF_INET && address != INADDR_ANY &&
           peer.sin_addr.s_addr == local.sin_addr.s_addr;
}

bool GetLocalAddress(int fd, sockaddr_in& local) {
    sockaddr_storage storage{};
    socklen_t length = sizeof(storage);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0 ||
        storage.ss_family != AF_INET) {
        return false;
    }
    local = *reinterpret_cast<const sockaddr_in*>(&storage);
    return true;
}
