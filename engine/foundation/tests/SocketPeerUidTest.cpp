#include "engine/foundation/SocketPeerUid.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "engine/foundation/UniqueFd.h"

namespace {

constexpr uid_t kNobody = 65534;

// A listening socket on the loopback address of `family`, on a port the system picks.
CUniqueFd ListenOnLoopback(int family, sockaddr_storage& address, socklen_t& length) {
    CUniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    std::memset(&address, 0, sizeof(address));
    if (family == AF_INET) {
        auto& in = reinterpret_cast<sockaddr_in&>(address);
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(in);
    } else {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
        in6.sin6_family = AF_INET6;
        in6.sin6_addr = in6addr_loopback;
        length = sizeof(in6);
    }
    if (fd.Get() < 0 || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd.Get(), 4) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return CUniqueFd();
    }
    return fd;
}

TEST(SocketPeerUidTest, FindsTheUserOfTheConnectingProcess) {
    const struct {
        int family;
        uid_t client;
    } cases[] = {
        {AF_INET, ::geteuid()},
        {AF_INET6, ::geteuid()},
        {AF_INET, kNobody},
        {AF_INET6, kNobody},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "family " << c.family << " uid " << c.client);
        if (c.client != ::geteuid() && ::geteuid() != 0) {
            continue;  // only root can connect as another user
        }
        sockaddr_storage address{};
        socklen_t length = 0;
        CUniqueFd listening = ListenOnLoopback(c.family, address, length);
        if (!(listening.Get() >= 0) && c.family == AF_INET6) {
            continue;  // a host without IPv6
        }
        ASSERT_TRUE((listening.Get() >= 0));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (c.client != ::geteuid() && (::setresgid(c.client, c.client, c.client) != 0 ||
                                            ::setresuid(c.client, c.client, c.client) != 0)) {
                ::_exit(2);
            }
            const int fd = ::socket(c.family, SOCK_STREAM, 0);
            if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
                ::_exit(3);
            }
            char byte = 0;
            ::_exit(::read(fd, &byte, 1) == 0 ? 0 : 4);  // held until the server closes
        }
        CUniqueFd accepted(::accept4(listening.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        uid_t found = 12345;
        const bool ok = accepted.Get() >= 0 && FindTcpPeerUid(accepted.Get(), found);
        accepted.Reset();
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_TRUE(ok);
        EXPECT_EQ(found, c.client);
        // The accepting end is not the peer: its own owner would be the server's user.
        uid_t own = 0;
        EXPECT_FALSE(FindTcpPeerUid(listening.Get(), own));
    }
}

TEST(SocketPeerUidTest, ASocketThatIsNotTcpHasNoPeerUser) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    CUniqueFd a(pair[0]);
    CUniqueFd b(pair[1]);
    uid_t uid = 0;
    EXPECT_FALSE(FindTcpPeerUid(a.Get(), uid));
    EXPECT_FALSE(FindTcpPeerUid(-1, uid));
}

}  // namespace
