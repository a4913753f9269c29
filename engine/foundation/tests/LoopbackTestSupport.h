// Shared by the tests that talk to the engine over loopback sockets: a log sink that keeps
// every entry, and a read of everything a connection receives until its peer closes.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "engine/foundation/LogSink.h"
#include "engine/foundation/SocketConn.h"

class CCapturedLog : public CLogSink {
public:
    bool Deliver(const std::string& text) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(text);
        return true;
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    // Entries equal to text.
    size_t Count(const std::string& text) {
        auto lines = Lines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
    }
    // True when some entry holds text.
    bool Has(const std::string& text) {
        auto lines = Lines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

// Reads until the peer closes (or an error).
inline std::string ReadAll(CSocketConn& conn) {
    std::string got;
    char buffer[8192];
    long n;
    while ((n = conn.Receive(buffer, sizeof buffer)) > 0) {
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}
