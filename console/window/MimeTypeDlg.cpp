#include "console/window/MimeTypeDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

CMimeTypeDlg::CMimeTypeDlg(QWidget* parent, bool editing)
    : QDialog(parent), m_extension(new QLineEdit(this)), m_contentType(new QLineEdit(this)) {
    setWindowTitle(editing ? "Edit Mime Type" : "New Mime Type");
    m_extension->setMaxLength(10);
    m_extension->setEnabled(!editing);
    m_contentType->setMaxLength(80);
    auto* layout = new QFormLayout(this);
    layout->addRow("File &Extension:", m_extension);
    layout->addRow("Content &Type (MIME):", m_contentType);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
}
