// The line end a text block was read with; blocks typed later have none and take the
// document's.
#pragma once

#include <QTextBlockUserData>
#include <string>

class CLineEndData : public QTextBlockUserData {
public:
    explicit CLineEndData(std::string end) : m_end(std::move(end)) {}
    const std::string& End() const { return m_end; }

private:
    std::string m_end;
};
