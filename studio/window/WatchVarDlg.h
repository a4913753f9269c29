// The Add Variable to Watch dialog.
#pragma once

#include "studio/window/FormDialog.h"

class CWatchVarDlg : public CFormDialog {
    Q_OBJECT
public:
    explicit CWatchVarDlg(QWidget* parent = nullptr);
    QString Expression() const { return m_field->text(); }
    QLineEdit* Field() const { return m_field; }

private:
    QLineEdit* m_field;
};
