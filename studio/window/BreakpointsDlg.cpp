#include "studio/window/BreakpointsDlg.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "studio/window/MessageSeam.h"

CBreakpointsDlg::CBreakpointsDlg(const QString& list, QWidget* parent)
    : QDialog(parent),
      m_list(new QListWidget(this)),
      m_goTo(new QPushButton(QStringLiteral("&Go To"), this)),
      m_clearAll(new QPushButton(QStringLiteral("Clear &All"), this)),
      m_close(new QPushButton(QStringLiteral("Close"), this)) {
    setWindowTitle(QStringLiteral("Breakpoints"));
    for (const QString& entry : list.split(QLatin1Char('\n'))) {
        if (entry.isEmpty()) {
            break;
        }
        m_list->addItem(entry);
    }
    connect(m_goTo, &QPushButton::clicked, this, [this] {
        QListWidgetItem* item = m_list->currentItem();
        if (!item || !item->isSelected()) {
            CMessageSeam::Show(this, QStringLiteral("Please select an item first"));
            return;
        }
        m_selected = item->text();
        m_result = kGoTo;
        accept();
    });
    connect(m_clearAll, &QPushButton::clicked, this, [this] {
        m_result = kClearAll;
        m_list->clear();
        accept();
    });
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    m_close->setDefault(true);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_goTo);
    buttons->addWidget(m_clearAll);
    buttons->addWidget(m_close);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
}
