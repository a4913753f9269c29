// A layer that a CSocketConn can carry between its callers and the raw socket,
// such as server-side TLS. The connection calls it for every Send, Receive and
// Close once it is installed; the layer reaches the wire through the
// connection's plain calls (RecvPlain, SendAllPlain), so the time-outs, the
// deadline and the cross-thread shutdown of the connection govern it as well.
#pragma once

#include <cstddef>

class CSocketConn;

class CConnTransport {
public:
    virtual ~CConnTransport() = default;

    // Runs once, before the first byte is read or written through the layer.
    // Returns false when the connection cannot carry data; the layer logs why.
    virtual bool Handshake(CSocketConn& conn) = 0;

    // Reads up to size bytes of application data into buffer. Returns the
    // count, 0 at the end of the stream, -1 on error.
    virtual long Read(CSocketConn& conn, char* buffer, size_t size) = 0;

    // Writes all of data. Returns false when any of it could not be sent.
    virtual bool Write(CSocketConn& conn, const char* data, size_t length) = 0;

    // Says goodbye to the peer (close notify) before the socket is shut down.
    // Called at most once, and only after a successful Handshake.
    virtual void Shutdown(CSocketConn& conn) = 0;
};
