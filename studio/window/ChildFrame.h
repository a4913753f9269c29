// An editor window inside the main window's MDI area: the breakpoint margin and the view.
#pragma once

#include <QWidget>

class CBreakpointGutter;
class CSspDoc;
class CSspView;

class CChildFrame : public QWidget {
    Q_OBJECT
public:
    // Takes `doc` as its own.
    CChildFrame(CSspDoc* doc, QWidget* parent = nullptr);
    // Lets go of the document's and the view's signals before they go.
    ~CChildFrame() override;

    CSspDoc* Doc() const { return m_doc; }
    CSspView* View() const { return m_view; }
    CBreakpointGutter* Gutter() const { return m_gutter; }
    // The window's number among the windows of one document; 0 for the only one.
    void SetNumber(int number);
    // The title: the document's, " *" while modified, ":%d" for a numbered window.
    QString Title() const;
    void UpdateTitle();
    void RedrawMargin();

signals:
    void TitleChanged();

private:
    CSspDoc* m_doc;
    CBreakpointGutter* m_gutter;
    CSspView* m_view;
    int m_number = 0;
};
