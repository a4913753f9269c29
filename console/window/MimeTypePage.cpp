#include "console/window/MimeTypePage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

#include "console/window/MimeTypeDlg.h"
#include "console/window/Prompts.h"
#include "console/window/ReportList.h"
#include "console/window/RunModal.h"
#include "engine/foundation/AsciiSpace.h"
#include "engine/settings/ServerSettings.h"

namespace {

std::string Trimmed(const QLineEdit* edit) {
    return std::string(TrimAsciiSpace(edit->text().toStdString()));
}

}  // namespace

CMimeTypePage::CMimeTypePage(QWidget* parent, CServerSettings& settings)
    : CSettingsPage(parent, settings),
      m_list(MakeReportList(this, {"File Extension", "Content Type"})),
      m_encoding(new QLineEdit(this)),
      m_runDialog(&RunModal<CMimeTypeDlg>) {
    QHBoxLayout* buttons = MakeCommandRow(this, {{"New...", [this] { OnNew(); }},
                                                 {"Edit...", [this] { OnEdit(); }},
                                                 {"Delete", [this] { OnDelete(); }}});
    auto* encoding = new QHBoxLayout;
    encoding->addWidget(new QLabel("Encoding for text type:", this));
    encoding->addWidget(m_encoding);
    auto* serverDefault = new QPushButton("Server Default", this);
    connect(serverDefault, &QPushButton::clicked, this, [this] { OnServerDefault(); });
    encoding->addWidget(serverDefault);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    layout->addLayout(encoding);
}

void CMimeTypePage::ReadSettings() {
    m_list->clear();
    for (const CMimeMap::Entry& entry : m_settings.m_mimeMap.Entries()) {
        InsertRow(entry.m_extension, entry.m_contentType);
    }
    m_encoding->setText(QString::fromStdString(m_settings.MimeTextEncoding));
}

void CMimeTypePage::InsertRow(const std::string& extension, const std::string& contentType) {
    auto item = std::make_unique<QTreeWidgetItem>();
    item->setText(0, QString::fromStdString("." + extension));
    item->setText(1, QString::fromStdString(contentType));
    QTreeWidgetItem* row = item.get();
    m_list->insertTopLevelItem(0, item.release());
    m_list->setCurrentItem(row);
}

void CMimeTypePage::OnActivate() {
    const int width = m_list->viewport()->width() - 20;
    m_list->setColumnWidth(0, width / 3);
    m_list->setColumnWidth(1, width - width / 3);
}

bool CMimeTypePage::WriteSettings() {
    m_settings.MimeTextEncoding = Trimmed(m_encoding);
    return true;
}

void CMimeTypePage::OnNew() {
    CMimeTypeDlg dialog(this, false);
    if (!m_runDialog(dialog)) {
        return;
    }
    std::string extension = Trimmed(dialog.Extension());
    const std::string type = Trimmed(dialog.ContentType());
    if (extension.empty() || type.empty()) {
        ShowMessage(this, "Can not save empty MIME map");
        return;
    }
    if (extension.front() == '.') {
        extension.erase(0, 1);
    }
    if (m_settings.m_mimeMap.Find(extension) != nullptr) {
        ShowMessage(this, "The MIME type alread exist. Please click edit button to make changes.");
        return;
    }
    m_settings.m_mimeMap.Set(extension, type);
    m_settings.m_mimeChanged = true;
    InsertRow(extension, type);
}

void CMimeTypePage::OnEdit() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr) {
        ShowMessage(this, "Please select a mime type to edit");
        return;
    }
    const std::string extension = item->text(0).toStdString().substr(1);
    CMimeTypeDlg dialog(this, true);
    dialog.Extension()->setText(item->text(0).mid(1));
    dialog.ContentType()->setText(item->text(1));
    if (!m_runDialog(dialog)) {
        return;
    }
    const std::string type = Trimmed(dialog.ContentType());
    if (type.empty()) {
        ShowMessage(this, "Can not save empty MIME map");
        return;
    }
    if (type != item->text(1).toStdString()) {
        m_settings.m_mimeMap.Set(extension, type);
        m_settings.m_mimeChanged = true;
        item->setText(1, QString::fromStdString(type));
    }
}

void CMimeTypePage::OnDelete() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr) {
        ShowMessage(this, "Please select a mime type to delete");
        return;
    }
    if (!AskYesNo(this, "Are you sure you want to delete " + item->text(0).toStdString(), true)) {
        return;
    }
    m_settings.m_mimeMap.Remove(item->text(0).toStdString().substr(1));
    m_settings.m_mimeChanged = true;
    std::unique_ptr<QTreeWidgetItem> gone(
        m_list->takeTopLevelItem(m_list->indexOfTopLevelItem(item)));
}

void CMimeTypePage::OnServerDefault() {
    const std::string encoding(TrimAsciiSpace(CServerSettings::GetDefaultCharset()));
    if (encoding.empty()) {
        ShowMessage(this, "Failed to find server's default encoding.");
        return;
    }
    m_encoding->setText(QString::fromStdString(encoding));
}
