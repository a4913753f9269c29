// Keeps every entry a log writer hands over while it lives: the entries of its own writer
// (Writer()), or of a writer it is installed in, such as g_log. Safe from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/LogWriter.h"

class CCapturedLog {
public:
    CCapturedLog();
    // Becomes writer's window; once destroyed, writer drops its entries (no day-file folder).
    explicit CCapturedLog(CLogWriter& writer);
    ~CCapturedLog();
    CCapturedLog(const CCapturedLog&) = delete;
    CCapturedLog& operator=(const CCapturedLog&) = delete;

    CLogWriter& Writer() { return *m_writer; }

    // Every entry as delivered.
    std::vector<std::string> Entries() const;
    // Every entry without the CR LF that ends a line.
    std::vector<std::string> Lines() const;
    std::string All() const;

    // Some entry contains part.
    bool Has(const std::string& part) const;
    // Some line (without CR LF) is exactly line.
    bool HasLine(const std::string& line) const;
    bool HasPrefix(const std::string& prefix) const;
    // Entries that contain part.
    int Count(const std::string& part) const;
    // Entries exactly equal to entry (CR LF included).
    int CountEqual(const std::string& entry) const;

private:
    class CSink;
    std::shared_ptr<CSink> m_sink;
    CLogWriter m_own;
    CLogWriter* m_writer;
};
