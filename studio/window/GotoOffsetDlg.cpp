#include "studio/window/GotoOffsetDlg.h"

#include "studio/window/MessageSeam.h"

CGotoOffsetDlg::CGotoOffsetDlg(QWidget* parent)
    : CFormDialog(QStringLiteral("Go To File Offset"), parent) {
    AddText(
        QStringLiteral("This dialog is used to locate the position in your template or "
                       "script file where Velmorin Server hanged."));
    m_field = AddField(QStringLiteral("Enter the \"offset\" value from the log file:"),
                       QStringLiteral("0"));
}

bool CGotoOffsetDlg::Validate() {
    bool ok = false;
    const long value = m_field->text().trimmed().toLong(&ok);
    if (!ok) {
        CMessageSeam::Show(this, QStringLiteral("Please enter an integer."));
        m_field->setFocus();
        return false;
    }
    m_offset = value;
    return true;
}
