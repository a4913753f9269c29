// Whether a connection comes from this host: the console's commands expose
// client addresses and URLs, run tasks and drop connections, so the server
// answers them only for a local peer.
#pragma once

#include <netinet/in.h>

// True when peer is a loopback address (127.0.0.0/8) or equals local, the
// address the connection was accepted on (a client on this host that
// connected to one of the host's own addresses).
bool IsLocalPeer(const sockaddr_in& peer, const sockaddr_in& local);

// The local address of a connected socket; false when it cannot be read or is
// not IPv4.
bool GetLocalAddress(int fd, sockaddr_in& local);
