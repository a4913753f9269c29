// The Go To File Offset dialog: the byte offset a log line named.
#pragma once

#include "studio/window/FormDialog.h"

class CGotoOffsetDlg : public CFormDialog {
    Q_OBJECT
public:
    explicit CGotoOffsetDlg(QWidget* parent = nullptr);
    long Offset() const { return m_offset; }
    QLineEdit* Field() const { return m_field; }

protected:
    bool Validate() override;

private:
    QLineEdit* m_field;
    long m_offset = 0;
};
