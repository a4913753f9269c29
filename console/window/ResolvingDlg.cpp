#include "console/window/ResolvingDlg.h"

#include <QLabel>
#include <QVBoxLayout>

CResolvingDlg::CResolvingDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Velmorin Server Console");
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(kText, this);
    label->setWordWrap(true);
    layout->addWidget(label);
}
