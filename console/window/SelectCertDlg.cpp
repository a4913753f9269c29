#include "console/window/SelectCertDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "console/window/Prompts.h"
#include "console/window/ReportList.h"
#include "engine/foundation/CertificateInfo.h"
#include "engine/foundation/SspDateTime.h"

CSelectCertDlg::CSelectCertDlg(QWidget* parent, const std::string& root, const std::string& current)
    : QDialog(parent),
      m_list(MakeReportList(this, {"Issued To", "Issued By", "Expiration", "Serial Number"})) {
    setWindowTitle("Select Certificate");
    const int widths[] = {100, 100, 100, 200};
    for (int i = 0; i < 4; ++i) {
        m_list->setColumnWidth(i, widths[i]);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Available Certificates", this));
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(560, 300);

    std::vector<CCertificateInfo> certificates;
    ListCertificates(CertificateFolderOf(root), certificates);
    for (const CCertificateInfo& info : certificates) {
        auto item = std::make_unique<QTreeWidgetItem>();
        item->setText(0, QString::fromStdString(info.m_name));
        item->setText(1, QString::fromStdString(info.m_issuer));
        item->setText(2, QString::fromStdString(CSspDateTime(info.m_notAfter).GetDateTimeStr()));
        item->setText(3, QString::fromStdString(info.m_serial));
        // Each one goes to the top, as the listing of the store did.
        m_list->insertTopLevelItem(0, item.release());
    }
    m_list->setCurrentItem(nullptr);
    m_list->clearSelection();
    if (current.empty()) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
        return;
    }
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->text(0).toStdString() == current) {
            m_list->setCurrentItem(m_list->topLevelItem(i));
            return;
        }
    }
}

bool CSelectCertDlg::OnOK() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(this, "Please select a certificate or click Cancel.");
        return false;
    }
    const QTreeWidgetItem* item = selected.front();
    m_chosen = {item->text(0).toStdString(), item->text(1).toStdString(),
                item->text(2).toStdString(), item->text(3).toStdString()};
    accept();
    return true;
}
