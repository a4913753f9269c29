#include "console/SqlScript.h"

#include <fstream>
#include <sstream>

#include "engine/data/DbException.h"
#include "engine/data/OdbcConnection.h"
#include "engine/foundation/AsciiText.h"

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

bool StartsBlock(std::string_view rest) {
    for (const char* word : {"trigger", "package", "function", "procedure"}) {
        if (AsciiStartsWithNoCase(rest, word)) {
            return true;
        }
    }
    return false;
}

class CSplitter {
public:
    explicit CSplitter(const std::string& text) : m_text(text) {}

    std::vector<std::string> Run() {
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (!m_block && StartsBlock(std::string_view(m_text).substr(m_at))) {
                m_block = true;
            }
            if (m_block) {
                if (c == '\r') {
                    ++m_at;
                } else {
                    Terminator();
                }
                continue;
            }
            if (Next("/*")) {
                const size_t end = m_text.find("*/", m_at + 2);
                m_at = end == std::string::npos ? m_text.size() : end + 2;
            } else if (Next("--")) {
                const size_t end = m_text.find('\n', m_at + 2);
                m_at = end == std::string::npos ? m_text.size() : end + 1;
            } else if (IsSpace(c) && (m_current.empty() ||
                                      (m_at + 1 < m_text.size() && IsSpace(m_text[m_at + 1])))) {
                ++m_at;
            } else if (c == '\r' || c == '\n' || c == '\t') {
                m_current += ' ';
                ++m_at;
            } else {
                Terminator();
            }
        }
        return std::move(m_statements);
    }

private:
    bool Next(const char* two) const { return m_text.compare(m_at, 2, two) == 0; }
    char At(size_t i) const { return i < m_text.size() ? m_text[i] : '\0'; }

    void Terminator() {
        const char c = m_text[m_at];
        const bool lineStart = m_at == 0 || m_text[m_at - 1] == '\n';
        if (lineStart && (c == 'g' || c == 'G') && (At(m_at + 1) == 'o' || At(m_at + 1) == 'O') &&
            IsLineEnd(At(m_at + 2))) {
            m_at += 2;
            End();
        } else if (lineStart && c == '/' && IsLineEnd(At(m_at + 1))) {
            m_at += 1;
            End();
        } else if (c == ';' && !m_block) {
            m_at += 1;
            End();
        } else {
            m_current += c;
            ++m_at;
        }
    }

    void End() {
        while (!m_current.empty() && IsSpace(m_current.back())) {
            m_current.pop_back();
        }
        // A ';' followed by a "go" line would otherwise run an empty statement.
        if (!m_current.empty()) {
            m_statements.push_back(std::move(m_current));
        }
        m_current.clear();
        m_block = false;
    }

    const std::string& m_text;
    size_t m_at = 0;
    bool m_block = false;
    std::string m_current;
    std::vector<std::string> m_statements;
};

}  // namespace

std::vector<std::string> SplitSqlScript(const std::string& text) {
    return CSplitter(text).Run();
}

bool RunSqlScript(const std::string& text, COdbcConnection& db,
                  const std::function<void(const std::string&)>& status,
                  const std::function<bool(const std::string&)>& goOn) {
    for (const std::string& statement : SplitSqlScript(text)) {
        status(statement);
        try {
            db.ExecuteSQL(statement);
        } catch (const CDbException& e) {
            if (!goOn(std::string(e.what()) + "\nWould you like to continue?")) {
                return false;
            }
        }
    }
    return true;
}

bool LoadSqlScript(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Failed to open file: " + path;
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}
