#include "studio/window/OutputEdit.h"

#include <QScrollBar>
#include <QTextCursor>

#include "engine/foundation/EngineMessages.h"
#include "studio/window/TextLook.h"

namespace {

// Line ends show as the edit's own line breaks.
QString ShownText(const std::string& text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

}  // namespace

COutputEdit::COutputEdit(long limit, QWidget* parent) : QPlainTextEdit(parent), m_limit(limit) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void COutputEdit::AppendOutput(const std::vector<std::string>& texts) {
    QString pending;
    bool reset = false;
    for (const std::string& text : texts) {
        if (m_limit != kNoLimit && m_count > m_limit) {
            const QString notice =
                QString::asprintf(g_msg.m_outputLimitReached, static_cast<int>(m_limit / 1024));
            pending = ShownText(notice.toStdString());
            reset = true;
            m_count = static_cast<long>(notice.size());
        }
        pending += ShownText(text);
        m_count += static_cast<long>(text.size());
    }
    if (reset) {
        setPlainText(pending);
    } else {
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(pending);
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void COutputEdit::ClearOutput() {
    clear();
    m_count = 0;
}

void COutputEdit::SetTabStops(int characters) {
    SetTabStopCharacters(this, characters);
}

void COutputEdit::SetColors(const QColor& text, const QColor& background) {
    SetTextColors(this, text, background);
}
