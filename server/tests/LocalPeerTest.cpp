#include "server/LocalPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

namespace {

sockaddr_in Address(const char* dotted) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, dotted, &a.sin_addr);
    return a;
}

TEST(LocalPeerTest, OnlyLoopbackOrTheAcceptingAddressIsLocal) {
    struct Case {
        const char* peer;
        const char* local;
        bool isLocal;
    } cases[] = {
        {"127.0.0.1", "127.0.0.1", true},
        {"127.200.3.4", "192.168.1.10", true},   // all of 127/8 is this host
        {"192.168.1.10", "192.168.1.10", true},  // a client of this host on its own address
        {"192.168.1.11", "192.168.1.10", false},
        {"10.0.0.1", "0.0.0.0", false},
        {"0.0.0.0", "0.0.0.0", false},
        {"128.0.0.1", "127.0.0.1", false},
        {"126.255.255.255", "127.0.0.1", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsLocalPeer(Address(c.peer), Address(c.local)), c.isLocal)
            << c.peer << " on " << c.local;
    }
}

TEST(LocalPeerTest, APeerOfAnotherFamilyIsNotLocal) {
    sockaddr_in peer = Address("127.0.0.1");
    peer.sin_family = AF_UNSPEC;
    EXPECT_FALSE(IsLocalPeer(peer, Address("127.0.0.1")));
}

}  // namespace
