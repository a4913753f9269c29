// The Set Color dialog: the text and background colour indexes.
#pragma once

#include <QDialog>

class CColorListBox;

class CSetColorDlg : public QDialog {
    Q_OBJECT
public:
    CSetColorDlg(int textIndex, int backgroundIndex, QWidget* parent = nullptr);

    int TextIndex() const;
    int BackgroundIndex() const;
    CColorListBox* TextList() const { return m_text; }
    CColorListBox* BackgroundList() const { return m_background; }

private:
    CColorListBox* m_text;
    CColorListBox* m_background;
};
