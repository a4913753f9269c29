#pragma once

#include <stdlib.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/foundation/LogSink.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SettingsStore.h"

// A root folder of its own for one test, removed afterwards.
class TempRoot {
public:
    TempRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "server-settings-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }

    // Puts values into the store as another program would have left them.
    void Store(const std::vector<CSettingsValues::Entry>& values) const {
        CSettingsStore store(CSettingsStore::PathUnderRoot(m_path));
        std::string error;
        if (!values.empty() && !store.Write(values, error)) {
            throw std::runtime_error(error);
        }
    }

    // A stored value, or nullopt.
    std::optional<std::string> Stored(const std::string& name) const {
        CSettingsValues values;
        std::string error;
        CSettingsStore(CSettingsStore::PathUnderRoot(m_path)).Read(values, error);
        const std::string* value = values.Find(name);
        return value ? std::optional<std::string>(*value) : std::nullopt;
    }

private:
    std::string m_path;
};

// Collects the log's lines while it lives, then sends the log back to dropping them.
class LogCapture {
public:
    LogCapture() : m_sink(std::make_shared<Sink>()) { g_log.SetMessageBox(m_sink); }
    ~LogCapture() { g_log.SetFolder(""); }
    const std::vector<std::string>& Lines() const { return m_sink->m_lines; }
    bool Has(const std::string& text) const {
        for (const std::string& line : Lines()) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    struct Sink : CLogSink {
        bool Deliver(const std::string& text) override {
            m_lines.push_back(text);
            return true;
        }
        std::vector<std::string> m_lines;
    };
    std::shared_ptr<Sink> m_sink;
};

// Sets TZ for one test and restores it.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            m_old = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_old) {
            ::setenv("TZ", m_old->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

// The local time of a wall-clock moment in the current TZ.
inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    when.tm_isdst = -1;
    return std::mktime(&when);
}

// "YYYY-MM-DD HH:MM:SS" of a time in the current TZ.
inline std::string LocalText(std::time_t time) {
    std::tm when{};
    localtime_r(&time, &when);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &when);
    return text;
}
