#include "studio/window/FormDialog.h"

#include <QLabel>

CFormDialog::CFormDialog(const QString& title, QWidget* parent)
    : QDialog(parent),
      m_layout(new QVBoxLayout(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
    setWindowTitle(title);
    m_layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CFormDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QLineEdit* CFormDialog::AddField(const QString& label, const QString& value) {
    auto* caption = new QLabel(label, this);
    auto* field = new QLineEdit(value, this);
    caption->setBuddy(field);
    const int at = m_layout->indexOf(m_buttons);
    m_layout->insertWidget(at, caption);
    m_layout->insertWidget(at + 1, field);
    return field;
}

void CFormDialog::AddText(const QString& text) {
    auto* line = new QLabel(text, this);
    line->setWordWrap(true);
    m_layout->insertWidget(m_layout->indexOf(m_buttons), line);
}

void CFormDialog::accept() {
    if (Validate()) {
        QDialog::accept();
    }
}
