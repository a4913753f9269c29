// The base of a scripted one-connection peer on 127.0.0.1 (a free port): a derived class
// calls Start() at the end of its constructor and Stop() first in its destructor, and talks
// to the one client it accepts in Serve(), on the peer's own thread. Every wait gives up
// after 15 s, so a client that never comes or never closes cannot hang a test.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/UniqueFd.h"

class CLoopbackPeer {
public:
    CLoopbackPeer(const CLoopbackPeer&) = delete;
    CLoopbackPeer& operator=(const CLoopbackPeer&) = delete;

    int Port() const { return m_port; }
    // Waits for the connection to end, then gives every line the client sent (no CR LF).
    std::vector<std::string> Lines();
    // True when some line the client sent starts with prefix.
    bool Received(const std::string& prefix);

protected:
    CLoopbackPeer();
    virtual ~CLoopbackPeer();

    void Start();
    // Ends the conversation at once and joins the peer's thread.
    void Stop();
    // Waits (boundedly) until Serve returned, then stops.
    void Finish();

    virtual void Serve() = 0;

    // For Serve: the client's connection; false when none came or the peer stops.
    bool Accept();
    // One CR LF line from the client (without it), also kept for Lines().
    bool ReadLine(std::string& line);
    // Everything up to and including end.
    bool ReadThrough(const std::string& end, std::string& data);
    bool Send(const std::string& bytes);
    void Close() { m_conn.reset(); }

    std::mutex m_mutex;  // guards what Serve records

private:
    bool Fill();

    CUniqueFd m_listener;
    std::optional<CUniqueFd> m_conn;
    int m_port = 0;
    std::string m_pending;
    std::vector<std::string> m_lines;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bDone{false};
    std::thread m_thread;
};
