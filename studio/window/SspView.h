// The editor of one document: a plain text edit over the document's text.
#pragma once

#include <QPlainTextEdit>
#include <QString>

class CSspDoc;

class CSspView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CSspView(CSspDoc* doc, QWidget* parent = nullptr);

    CSspDoc* Doc() const { return m_doc; }
    // Caret to the start of the 1-based `line`, scrolled into view.
    void GoToLine(int line);
    // Caret to byte `offset` of the file, scrolled into view, focus to the view.
    void GoToOffset(long offset);
    // In the 0-based `line`, selects the first occurrence of `text` (case ignored); without a
    // text the caret goes to the line's start.
    void SelectInLine(int line, const QString& text);
    // The selection for a watch: trimmed, one trailing operator dropped, trimmed again.
    QString SelectedExpression() const;
    static QString ExpressionOf(const QString& selection);
    // Changes the ASCII letters of the selection (or of the word at the caret) as one edit.
    void ChangeCase(bool upper);
    // Selects the word around `position` (letters, digits, "_" and "."); false when none.
    bool SelectWordAt(int position);
    // "line %d col %d" of the selection's start.
    QString LineColumnText() const;
    // The top of the 1-based `line` in the view's coordinates; -1 when it is not shown.
    int LineTop(int line) const;
    // Whether the start of the 1-based `line` is scrolled out above the shown text.
    bool StartsAboveView(int line) const;
    void SetTabStops(int characters);
    void SetColors(const QColor& text, const QColor& background);

signals:
    // The right button asked for the context menu at `global`.
    void ContextMenuAsked(const QPoint& global);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    CSspDoc* m_doc;
};
