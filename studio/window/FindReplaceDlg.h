// Find, Find Again and Replace in the active editor: one modeless dialog that remembers the
// last text and options.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>

class CSspView;

class CFindReplaceDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFindReplaceDlg(QWidget* parent = nullptr);

    // Find (show for finding), Find Again (the last search once more) or Replace.
    void Run(int command, CSspView* view);
    // The next occurrence from the caret; false when there is none.
    bool FindNext();
    // Replaces the selection when it is an occurrence, then finds the next one.
    void ReplaceOne();
    // Replaces every occurrence as one edit; returns how many.
    int ReplaceAll();

    QLineEdit* FindField() const { return m_find; }
    QLineEdit* ReplaceField() const { return m_replace; }
    QCheckBox* MatchCase() const { return m_matchCase; }
    QCheckBox* WholeWord() const { return m_wholeWord; }
    QRadioButton* Up() const { return m_up; }
    QRadioButton* Down() const { return m_down; }

private:
    QTextDocument::FindFlags Flags() const;

    QPointer<CSspView> m_view;
    QLineEdit* m_find;
    QLineEdit* m_replace;
    QCheckBox* m_matchCase;
    QCheckBox* m_wholeWord;
    QRadioButton* m_up;
    QRadioButton* m_down;
    QPushButton* m_replaceButton;
    QPushButton* m_replaceAllButton;
};
