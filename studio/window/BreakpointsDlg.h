// The Breakpoints dialog: every breakpoint as "<path>?<line>", Go To and Clear All.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <QPushButton>

class CBreakpointsDlg : public QDialog {
    Q_OBJECT
public:
    enum { kGoTo = 1, kClearAll = 2, kClosed = 3 };

    // `list` holds the entries, each ended by "\n".
    explicit CBreakpointsDlg(const QString& list, QWidget* parent = nullptr);

    int Result() const { return m_result; }
    QString Selected() const { return m_selected; }
    QListWidget* List() const { return m_list; }
    QPushButton* GoToButton() const { return m_goTo; }
    QPushButton* ClearAllButton() const { return m_clearAll; }
    QPushButton* CloseButton() const { return m_close; }

private:
    QListWidget* m_list;
    QPushButton* m_goTo;
    QPushButton* m_clearAll;
    QPushButton* m_close;
    int m_result = kClosed;
    QString m_selected;
};
