// The user owning the other end of a TCP connection made on this host, as the kernel's socket
// diagnostics report it (what `ss -e` shows): a loopback peer's address says nothing about
// who it is, its owner does.
#pragma once

#include <sys/types.h>

// The uid of the socket at the far end of the connected TCP socket fd (IPv4 or IPv6), found
// by both ends' addresses and ports. False when the far end is not a socket of this host or
// the kernel does not say.
bool FindTcpPeerUid(int fd, uid_t& uid);
