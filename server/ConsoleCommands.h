// The server's side of the console protocol. A connection whose request line
// starts with a "Brackmoor." word carries one command instead of a request:
//
//   Brackmoor.GetTask        components and tasks, '*'-separated lines, then an empty line
//   Brackmoor.GetReq         the requests being served, then "watermark*N" and an empty line
//   Brackmoor.RunNow <n>     hands task number n (row + 2) to the scheduler; no reply
//   Brackmoor.Disconnect <id> drops the connection of server thread id; no reply
//
// The command word is matched by the first of ".GetTask", ".GetReq", ".RunNow",
// ".Disconnect" it contains (case counts); any other gets no reply. Only a peer
// on this host is answered (see LocalPeer.h); any other is logged and gets
// nothing, like an unknown command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/foundation/ConsoleConnectionList.h"

class CServerSettings;
class CServerStatus;
class CSocketConn;

// The thread pool as the console sees it.
class CConsoleConnections {
public:
    virtual ~CConsoleConnections() = default;
    // The busy threads' connections except askingThread's, under the pool's
    // lock; returns the number of threads in the pool (its peak since the last
    // stop).
    virtual int List(long askingThread, std::vector<CConsoleConnection>& busy) = 0;
    // Breaks the connection of every busy thread whose id is threadId.
    virtual void Disconnect(long threadId) = 0;
};

class CConsoleCommands {
public:
    // All three must outlive the object.
    CConsoleCommands(const CServerSettings& settings, CServerStatus& status,
                     CConsoleConnections& connections);

    // Answers a command that arrived on conn (served by thread askingThread):
    // checks the peer, then sends the reply, if any. The caller closes conn.
    void Serve(CSocketConn& conn, const std::string& command, const std::string& argument,
               long askingThread);

    // The reply to a command, "" for the commands that have none; runs the
    // command's action. No peer check.
    std::string Answer(const std::string& command, const std::string& argument, long askingThread);

    std::string GetTask();
    std::string GetReq(long askingThread);
    void RunNow(const std::string& argument);
    void Disconnect(const std::string& argument);

private:
    const CServerSettings& m_settings;
    CServerStatus& m_status;
    CConsoleConnections& m_connections;
};
