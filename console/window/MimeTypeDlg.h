// "Edit/New Mime Type": one extension and its content type.
#pragma once

#include <QDialog>

class QLineEdit;

class CMimeTypeDlg : public QDialog {
public:
    // editing: the extension is shown but cannot be changed.
    CMimeTypeDlg(QWidget* parent, bool editing);

    QLineEdit* Extension() const { return m_extension; }
    QLineEdit* ContentType() const { return m_contentType; }

private:
    QLineEdit* m_extension;
    QLineEdit* m_contentType;
};
