// An output pane's text (Debug, Request/Response): text is appended at the end, and once
// more than the limit has arrived the next text first replaces everything by a reset notice.
#pragma once

#include <QPlainTextEdit>
#include <string>
#include <vector>

class COutputEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr long kNoLimit = -1;

    explicit COutputEdit(long limit, QWidget* parent = nullptr);

    // Appends each text in order, as one edit of the pane.
    void AppendOutput(const std::vector<std::string>& texts);
    void AppendOutput(const std::string& text) { AppendOutput(std::vector<std::string>{text}); }
    void ClearOutput();
    long Count() const { return m_count; }
    // Tab stops of `characters` average character widths of the pane's font.
    void SetTabStops(int characters);
    void SetColors(const QColor& text, const QColor& background);

private:
    long m_limit;
    long m_count = 0;
};
