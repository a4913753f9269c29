// Helpers of the server program's tests: a root folder of their own and the log's lines.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/foundation/LogSink.h"
#include "engine/foundation/LogWriter.h"

class CTempRoot {
public:
    CTempRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tallgrove-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~CTempRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Collects the log's entries (without their CR LF) while it lives.
class CLogCapture {
public:
    CLogCapture() : m_sink(std::make_shared<Sink>()) { g_log.SetWindow(m_sink); }
    ~CLogCapture() { g_log.SetFolder(""); }

    std::vector<std::string> Lines() const {
        std::lock_guard guard(m_sink->m_lock);
        return m_sink->m_lines;
    }
    bool Has(const std::string& line) const {
        for (const std::string& l : Lines()) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
    bool Contains(const std::string& part) const {
        for (const std::string& l : Lines()) {
            if (l.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    struct Sink : CLogSink {
        bool Deliver(const std::string& text) override {
            std::lock_guard guard(m_lock);
            std::string line = text;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.pop_back();
            }
            m_lines.push_back(line);
            return true;
        }
        mutable std::mutex m_lock;
        std::vector<std::string> m_lines;
    };
    std::shared_ptr<Sink> m_sink;
};
