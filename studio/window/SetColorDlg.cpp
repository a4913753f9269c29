#include "studio/window/SetColorDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

#include "studio/window/ColorListBox.h"

CSetColorDlg::CSetColorDlg(int textIndex, int backgroundIndex, QWidget* parent)
    : QDialog(parent),
      m_text(new CColorListBox(true, this)),
      m_background(new CColorListBox(false, this)) {
    setWindowTitle(QStringLiteral("Set Color"));
    m_text->setCurrentRow(textIndex);
    m_background->setCurrentRow(backgroundIndex);
    auto* textLabel = new QLabel(QStringLiteral("&Text color"), this);
    textLabel->setBuddy(m_text);
    auto* backgroundLabel = new QLabel(QStringLiteral("&Background color"), this);
    backgroundLabel->setBuddy(m_background);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QGridLayout(this);
    layout->addWidget(textLabel, 0, 0);
    layout->addWidget(backgroundLabel, 0, 1);
    layout->addWidget(m_text, 1, 0);
    layout->addWidget(m_background, 1, 1);
    layout->addWidget(buttons, 2, 0, 1, 2);
}

int CSetColorDlg::TextIndex() const {
    return m_text->currentRow();
}

int CSetColorDlg::BackgroundIndex() const {
    return m_background->currentRow();
}
