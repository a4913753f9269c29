// The list of connections being served, as the console protocol carries it: the server
// writes it and the console reads it.
#pragma once

#include <string>
#include <vector>

// One connection a server thread is serving, as the pool lists it.
struct CConsoleConnection {
    std::string m_address;   // the client's dotted address
    long m_threadId = 0;     // the serving thread's id
    std::string m_assigned;  // when the connection was handed to it (GetDateTimeStr2)
    std::string m_request;   // the full URL followed by " (http)" or " (https)"
};

// Reads the pool's listing, "%s*%d*%s*%s\r\n" lines (client, thread id, assignment
// time, request) ending in "watermark*%d\r\n\r\n", into busy; the request is everything
// after the third '*', so a '*' inside it stays in it. Returns the watermark, 0 when the
// listing has none.
int ParseConnectionList(const std::string& listing, std::vector<CConsoleConnection>& busy);
