#include "console/window/CurrentRequestsDlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/ConsoleClient.h"
#include "console/window/Prompts.h"
#include "console/window/ReportList.h"
#include "console/window/WaitCursor.h"

namespace {

// The server needs a moment to drop the connection before the list shows it gone.
constexpr unsigned long kDisconnectPauseMs = 2000;

}  // namespace

CCurrentRequestsDlg::CCurrentRequestsDlg(QWidget* parent, std::string address, int port)
    : QDialog(parent),
      m_address(std::move(address)),
      m_port(port),
      m_list(MakeReportList(this, {"From IP", "URL", "Start Time"})),
      m_highWater(new QLabel(this)),
      m_disconnect(new QPushButton("&Disconnect", this)) {
    setWindowTitle("Current Requests");
    m_list->setColumnWidth(0, 100);
    m_list->setColumnWidth(1, 200);
    m_list->setColumnWidth(2, 100);
    auto* close = new QPushButton("Close", this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_highWater, 1);
    buttons->addWidget(m_disconnect);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_disconnect, &QPushButton::clicked, this, [this] { OnDisconnect(); });
    resize(440, 300);
    Refresh();
}

void CCurrentRequestsDlg::Refresh() {
    m_list->clear();
    std::string text;
    std::string error;
    if (!CConsoleClient(m_address, m_port).GetRequests(text, error)) {
        ShowMessage(this, error, EPromptKind::kError);
        return;
    }
    const CRequestList requests = ParseRequestList(text);
    if (!requests.m_highWater.empty()) {
        m_highWater->setText(QString::fromStdString(requests.m_highWater));
    }
    for (const CConsoleConnection& row : requests.m_rows) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(row.m_address));
        item->setText(1, QString::fromStdString(row.m_request));
        item->setText(2, QString::fromStdString(row.m_assigned));
        item->setData(0, Qt::UserRole, static_cast<qlonglong>(row.m_threadId));
    }
}

void CCurrentRequestsDlg::OnDisconnect() {
    CWaitCursor wait;
    const QTreeWidgetItem* item = m_list->currentItem();
    CConsoleConnection selected;
    if (item != nullptr) {
        selected.m_threadId = static_cast<long>(item->data(0, Qt::UserRole).toLongLong());
    }
    const std::string refusal = DisconnectRefusal(item != nullptr ? &selected : nullptr);
    if (!refusal.empty()) {
        ShowMessage(this, refusal);
        return;
    }
    std::string error;
    if (!CConsoleClient(m_address, m_port).Disconnect(selected.m_threadId, error)) {
        ShowMessage(this, error, EPromptKind::kError);
        return;
    }
    QThread::msleep(kDisconnectPauseMs);
    Refresh();
}
