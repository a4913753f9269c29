#include "studio/window/SspView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMimeData>
#include <QTextBlock>

#include "studio/window/DocumentText.h"
#include "studio/window/SspDoc.h"
#include "studio/window/TextLook.h"

namespace {

bool IsWordCharacter(QChar c) {
    return (c.unicode() < 0x80 && c.isLetterOrNumber()) || c == QLatin1Char('_') ||
           c == QLatin1Char('.');
}

QString ChangedCase(const QString& text, bool upper) {
    QString changed = text;
    for (QChar& c : changed) {
        const char16_t u = c.unicode();
        if (upper && u >= 'a' && u <= 'z') {
            c = QChar(u - 'a' + 'A');
        } else if (!upper && u >= 'A' && u <= 'Z') {
            c = QChar(u - 'A' + 'a');
        }
    }
    return changed;
}

}  // namespace

CSspView::CSspView(CSspDoc* doc, QWidget* parent) : QPlainTextEdit(parent), m_doc(doc) {
    setDocument(doc->Document());
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setViewportMargins(4, 0, 0, 0);
}

void CSspView::GoToLine(int line) {
    const QTextBlock block = document()->findBlockByNumber(line - 1);
    if (!block.isValid()) {
        return;
    }
    QTextCursor cursor(block);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CSspView::GoToOffset(long offset) {
    QTextCursor cursor(document());
    cursor.setPosition(m_doc->PositionOfOffset(offset));
    setTextCursor(cursor);
    ensureCursorVisible();
    setFocus();
}

void CSspView::SelectInLine(int line, const QString& text) {
    const QTextBlock block = document()->findBlockByNumber(line);
    if (!block.isValid()) {
        return;
    }
    QTextCursor cursor(block);
    if (!text.isEmpty()) {
        const qsizetype at = block.text().left(511).indexOf(text, 0, Qt::CaseInsensitive);
        if (at < 0) {
            return;
        }
        cursor.setPosition(block.position() + static_cast<int>(at));
        cursor.setPosition(block.position() + static_cast<int>(at + text.size()),
                           QTextCursor::KeepAnchor);
    }
    setTextCursor(cursor);
    ensureCursorVisible();
}

QString CSspView::ExpressionOf(const QString& selection) {
    QString expression = selection.trimmed();
    if (!expression.isEmpty() && QStringLiteral("+-;<=>").contains(expression.back())) {
        expression.chop(1);
        expression = expression.trimmed();
    }
    return expression;
}

QString CSspView::SelectedExpression() const {
    // A selection across lines comes with paragraph separators.
    QString selection = textCursor().selectedText();
    selection.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return ExpressionOf(selection);
}

bool CSspView::SelectWordAt(int position) {
    const QTextBlock block = document()->findBlock(position);
    const QString text = block.text();
    int at = position - block.position();
    if (at >= text.size() || !IsWordCharacter(text[at])) {
        return false;
    }
    int start = at;
    while (start > 0 && IsWordCharacter(text[start - 1])) {
        --start;
    }
    int end = at;
    while (end < text.size() && IsWordCharacter(text[end])) {
        ++end;
    }
    QTextCursor cursor(document());
    cursor.setPosition(block.position() + start);
    cursor.setPosition(block.position() + end, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    return true;
}

void CSspView::ChangeCase(bool upper) {
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection() && !SelectWordAt(cursor.position())) {
        return;
    }
    cursor = textCursor();
    const int anchor = cursor.anchor();
    const int position = cursor.position();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    cursor.beginEditBlock();
    for (QTextBlock block = document()->findBlock(start);
         block.isValid() && block.position() <= end; block = block.next()) {
        const int from = std::max(start, block.position());
        const int to = std::min(end, block.position() + block.length() - 1);
        if (to <= from) {
            continue;
        }
        QTextCursor part(document());
        part.setPosition(from);
        part.setPosition(to, QTextCursor::KeepAnchor);
        const QString before = part.selectedText();
        const QString after = ChangedCase(before, upper);
        if (after != before) {
            part.insertText(after);
        }
    }
    cursor.endEditBlock();
    QTextCursor restored(document());
    restored.setPosition(anchor);
    restored.setPosition(position, QTextCursor::KeepAnchor);
    setTextCursor(restored);
}

QString CSspView::LineColumnText() const {
    const QTextCursor cursor = textCursor();
    const QTextBlock block = document()->findBlock(cursor.selectionStart());
    return QStringLiteral("line %1 col %2")
        .arg(block.blockNumber() + 1)
        .arg(cursor.selectionStart() - block.position() + 1);
}

int CSspView::LineTop(int line) const {
    const QTextBlock block = document()->findBlockByNumber(line - 1);
    if (!block.isValid() || !block.isVisible()) {
        return -1;
    }
    const QRectF box = blockBoundingGeometry(block).translated(contentOffset());
    if (box.bottom() < 0 || box.top() > viewport()->height()) {
        return -1;
    }
    return static_cast<int>(box.top()) + viewport()->geometry().top();
}

bool CSspView::StartsAboveView(int line) const {
    const QTextBlock block = document()->findBlockByNumber(line - 1);
    return block.isValid() && blockBoundingGeometry(block).translated(contentOffset()).top() < 0;
}

void CSspView::SetTabStops(int characters) {
    SetTabStopCharacters(this, characters);
}

void CSspView::SetColors(const QColor& text, const QColor& background) {
    SetTextColors(this, text, background);
}

void CSspView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QPlainTextEdit::mouseDoubleClickEvent(event);
        return;
    }
    const QTextCursor at = cursorForPosition(event->position().toPoint());
    if (!SelectWordAt(at.position())) {
        QTextCursor caret = textCursor();
        caret.clearSelection();
        setTextCursor(caret);
    }
}

void CSspView::contextMenuEvent(QContextMenuEvent* event) {
    emit ContextMenuAsked(event->globalPos());
}

void CSspView::keyPressEvent(QKeyEvent* event) {
    if (!CDocumentText::CanStore(event->text(), m_doc->IsUtf8())) {
        QApplication::beep();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CSspView::insertFromMimeData(const QMimeData* source) {
    if (source->hasText() && !CDocumentText::CanStore(source->text(), m_doc->IsUtf8())) {
        QApplication::beep();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}
