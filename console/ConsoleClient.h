// The console's side of the console protocol: one connection per command to the server's
// address and port, 30 s for every wait. What comes back is turned into the rows the window
// shows; every refusal and failure is a text for the user.
#pragma once

#include <string>
#include <vector>

#include "engine/foundation/ConsoleConnectionList.h"

// One row of the server view: item data is the component number (0 web server, 1 secure web
// server, n >= 2 task n - 2); columns 1-3 are name, address or schedule, and state.
struct CServerRow {
    long m_itemData = 0;
    std::string m_columns[4];  // column 0 is the row's number
};

// The Current Requests list: the rows and the high-water text ("" when the reply had none).
struct CRequestList {
    std::vector<CConsoleConnection> m_rows;
    std::string m_highWater;
};

class CConsoleClient {
public:
    static constexpr int kTimeoutSeconds = 30;
    // The longest line read; a longer one ends the reading.
    static constexpr int kLineBuffer = 4096;

    CConsoleClient(std::string address, int port, int timeoutSeconds = kTimeoutSeconds);

    // The reply of "Brackmoor.GetTask": its lines, each ended by CR LF, and the final empty
    // line. False with `error` set when the connection or the send failed.
    bool GetTaskList(std::string& text, std::string& error);
    // The reply of "Brackmoor.GetReq", the same way.
    bool GetRequests(std::string& text, std::string& error);
    // Sends "Brackmoor.RunNow <n>"; nothing is read.
    bool RunNow(long taskNumber, std::string& error);
    // Sends "Brackmoor.Disconnect <id>"; nothing is read.
    bool Disconnect(long threadId, std::string& error);

private:
    bool Exchange(const std::string& command, bool readReply, const std::string& sendFailure,
                  std::string& text, std::string& error);

    std::string m_address;
    int m_port;
    int m_timeoutSeconds;
};

// The rows of a GetTask reply (or the rows built for a stopped server): up to the first
// empty line, each split at '*'.
std::vector<CServerRow> ParseServerRows(const std::string& text);
// A GetReq reply: "watermark*N" gives "High water mark: N"; other lines are requests.
CRequestList ParseRequestList(const std::string& text);

// Why Run Now cannot run the selected row (-1: none), or "" when it can.
std::string RunNowRefusal(int row, const CServerRow* selected);
// The notice after Run Now was sent for the row.
std::string RunNowNotice(const CServerRow& row);
// Why Disconnect cannot drop the selected request (nullptr: none), or "".
std::string DisconnectRefusal(const CConsoleConnection* selected);
