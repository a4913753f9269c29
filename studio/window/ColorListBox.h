// The owner-drawn list of the 17 colours (the last one "Automatic") of the Set Color dialog.
#pragma once

#include <QColor>
#include <QListWidget>
#include <QPalette>
#include <QStyledItemDelegate>

class CColorListBox : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kColors = 17;
    static constexpr int kAutomatic = 16;

    CColorListBox(bool forText, QWidget* parent = nullptr);

    // The colour of entry `index`: "Automatic" is the palette's text or base colour.
    static QColor ColorOf(int index, bool forText, const QPalette& palette);
    static QString NameOf(int index);
    bool ForText() const { return m_bForText; }

private:
    bool m_bForText;
};
