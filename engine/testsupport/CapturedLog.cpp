#include "engine/testsupport/CapturedLog.h"

#include <algorithm>
#include <mutex>

#include "engine/foundation/LogSink.h"

class CCapturedLog::CSink : public CLogSink {
public:
    bool Deliver(const std::string& text) override {
        std::lock_guard guard(m_lock);
        m_entries.push_back(text);
        return true;
    }
    std::vector<std::string> Entries() const {
        std::lock_guard guard(m_lock);
        return m_entries;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_entries;
};

CCapturedLog::CCapturedLog() : CCapturedLog(m_own) {}

CCapturedLog::CCapturedLog(CLogWriter& writer)
    : m_sink(std::make_shared<CSink>()), m_writer(&writer) {
    m_writer->SetWindow(m_sink);
}

CCapturedLog::~CCapturedLog() {
    m_writer->SetFolder("");
}

std::vector<std::string> CCapturedLog::Entries() const {
    return m_sink->Entries();
}

std::vector<std::string> CCapturedLog::Lines() const {
    std::vector<std::string> lines = Entries();
    for (std::string& line : lines) {
        if (line.ends_with("\r\n")) {
            line.resize(line.size() - 2);
        }
    }
    return lines;
}

std::string CCapturedLog::All() const {
    std::string all;
    for (const std::string& entry : Entries()) {
        all += entry;
    }
    return all;
}

bool CCapturedLog::Has(const std::string& part) const {
    return Count(part) > 0;
}

bool CCapturedLog::HasLine(const std::string& line) const {
    const std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool CCapturedLog::HasPrefix(const std::string& prefix) const {
    const std::vector<std::string> lines = Lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
}

int CCapturedLog::Count(const std::string& part) const {
    const std::vector<std::string> entries = Entries();
    return static_cast<int>(
        std::count_if(entries.begin(), entries.end(),
                      [&](const std::string& e) { return e.find(part) != std::string::npos; }));
}

int CCapturedLog::CountEqual(const std::string& entry) const {
    const std::vector<std::string> entries = Entries();
    return static_cast<int>(std::count(entries.begin(), entries.end(), entry));
}
