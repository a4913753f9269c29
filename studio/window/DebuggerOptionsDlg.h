// The Debugger Options dialog: the debugging web server's port and type.
#pragma once

#include <QRadioButton>

#include "studio/window/FormDialog.h"

class CDebuggerOptionsDlg : public CFormDialog {
    Q_OBJECT
public:
    CDebuggerOptionsDlg(const QString& port, bool ssl, QWidget* parent = nullptr);
    QString Port() const { return m_port->text(); }
    bool IsSsl() const { return m_secured->isChecked(); }

private:
    QLineEdit* m_port;
    QRadioButton* m_normal;
    QRadioButton* m_secured;
};
