#include "console/ConsoleClient.h"

#include <cstdlib>

#include "console/ConsoleMessages.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SocketConn.h"

namespace {

// The fields of a line split at '*', empty fields kept.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end; (end = line.find('*', start)) != std::string::npos; start = end + 1) {
        fields.push_back(line.substr(start, end - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

}  // namespace

CConsoleClient::CConsoleClient(std::string address, int port, int timeoutSeconds)
    : m_address(std::move(address)), m_port(port), m_timeoutSeconds(timeoutSeconds) {}

bool CConsoleClient::Exchange(const std::string& command, bool readReply,
                              const std::string& sendFailure, std::string& text,
                              std::string& error) {
    text.clear();
    error.clear();
    CSocketConn conn;
    conn.SetLogging(false);
    conn.SetTimeout(m_timeoutSeconds);
    if (!conn.Connect(m_address, m_port)) {
        error = ConsoleMessages().msgConnectFailed;
        return false;
    }
    if (!conn.Send(command)) {
        error = sendFailure;
        return false;
    }
    if (!readReply) {
        return true;
    }
    std::vector<char> buffer(kLineBuffer);
    while (true) {
        int n = 0;
        if (conn.ReadLine(buffer.data(), kLineBuffer, &n) != CSocketConn::ELineRead::kLine) {
            break;  // a failed read or a time-out ends the list with what came
        }
        text.append(buffer.data(), static_cast<size_t>(n));
        text += "\r\n";
        if (n == 0) {
            break;
        }
    }
    return true;
}

bool CConsoleClient::GetTaskList(std::string& text, std::string& error) {
    return Exchange("Brackmoor.GetTask\r\n\r\n", true, ConsoleMessages().msgGetStatusFailed, text,
                    error);
}

bool CConsoleClient::GetRequests(std::string& text, std::string& error) {
    return Exchange("Brackmoor.GetReq\r\n\r\n", true, ConsoleMessages().msgGetRequestsFailed, text,
                    error);
}

bool CConsoleClient::RunNow(long taskNumber, std::string& error) {
    std::string unused;
    return Exchange("Brackmoor.RunNow " + std::to_string(taskNumber) + "\r\n\r\n", false,
                    ConsoleMessages().msgConnectFailed, unused, error);
}

bool CConsoleClient::Disconnect(long threadId, std::string& error) {
    std::string unused;
    return Exchange("Brackmoor.Disconnect " + std::to_string(threadId) + "\r\n", false,
                    ConsoleMessages().msgConnectFailed, unused, error);
}

std::vector<CServerRow> ParseServerRows(const std::string& text) {
    std::vector<CServerRow> rows;
    size_t start = 0;
    while (start < text.size()) {
        // Runs of CR and LF are one delimiter, as the tokenizer takes them.
        start = text.find_first_not_of("\r\n", start);
        if (start == std::string::npos) {
            break;
        }
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::vector<std::string> fields = Fields(text.substr(start, end - start));
        CServerRow row;
        row.m_columns[0] = std::to_string(rows.size());
        row.m_itemData = std::atol(fields[0].c_str());
        for (size_t i = 1; i < 4 && i < fields.size(); ++i) {
            row.m_columns[i] = fields[i];
        }
        rows.push_back(std::move(row));
        start = end;
    }
    return rows;
}

CRequestList ParseRequestList(const std::string& text) {
    CRequestList list;
    const int watermark = ParseConnectionList(text, list.m_rows);
    if (text.starts_with("watermark*") || text.find("\nwatermark*") != std::string::npos) {
        list.m_highWater = "High water mark: " + std::to_string(watermark);
    }
    return list;
}

std::string RunNowRefusal(int row, const CServerRow* selected) {
    if (row < 2 || selected == nullptr) {
        return "Please select a task other than the web server.";
    }
    if (selected->m_itemData == 0) {
        return "Script ID not found. Please click the Refresh button then retry.";
    }
    if (AsciiEqualNoCase(selected->m_columns[3], "disabled")) {
        return "The task you selected is disabled.";
    }
    return std::string();
}

std::string RunNowNotice(const CServerRow& row) {
    return row.m_columns[1] + " is now running in the background.\nRefer to log files for results.";
}

std::string DisconnectRefusal(const CConsoleConnection* selected) {
    if (selected == nullptr) {
        return "Please select a request first. ";
    }
    if (selected->m_threadId == 0) {
        return "Thread ID not found";
    }
    return std::string();
}
