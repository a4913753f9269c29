#include "console/window/SecurePage.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/CertInstall.h"
#include "console/ConsoleMessages.h"
#include "console/window/CertRequestDlg.h"
#include "console/window/FileChoice.h"
#include "console/window/Prompts.h"
#include "console/window/RunModal.h"
#include "console/window/SelectCertDlg.h"
#include "engine/settings/ServerSettings.h"

CSecurePage::CSecurePage(QWidget* parent, CServerSettings& settings, std::string root)
    : CSettingsPage(parent, settings),
      m_root(std::move(root)),
      m_name(new QLineEdit(this)),
      m_issuer(new QLineEdit(this)),
      m_serial(new QLineEdit(this)),
      m_expiration(new QLineEdit(this)),
      m_disable(new QPushButton("Disable Secure Web Server", this)),
      m_runSelect(&RunModal<CSelectCertDlg>),
      m_runRequest(&RunModal<CCertRequestDlg>) {
    for (QLineEdit* edit : {m_name, m_issuer, m_serial, m_expiration}) {
        edit->setReadOnly(true);
    }
    auto* form = new QFormLayout;
    form->addRow("Issued To (Common Name)", m_name);
    form->addRow("Issued By", m_issuer);
    form->addRow("Serial Number", m_serial);
    form->addRow("Expiration", m_expiration);
    auto* select = new QPushButton("Select Certificate", this);
    auto* request = new QPushButton("Generate Certificate Request", this);
    auto* install = new QPushButton("Install Certificate", this);
    auto* buttons = new QGridLayout;
    buttons->addWidget(select, 0, 0);
    buttons->addWidget(m_disable, 0, 1);
    buttons->addWidget(request, 1, 0);
    buttons->addWidget(install, 1, 1);
    auto* hint = new QPlainTextEdit(QString::fromStdString(ConsoleMessages().msgSecureHint), this);
    hint->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(new QLabel("Hint:", this));
    layout->addWidget(hint);
    connect(select, &QPushButton::clicked, this, [this] { OnSelect(); });
    connect(m_disable, &QPushButton::clicked, this, [this] { OnDisable(); });
    connect(request, &QPushButton::clicked, this, [this] { OnCreateRequest(); });
    connect(install, &QPushButton::clicked, this, [this] { OnInstall(); });
}

void CSecurePage::ReadSettings() {
    m_name->setText(QString::fromStdString(m_settings.SecurityCertName));
    m_issuer->setText(QString::fromStdString(m_settings.SecurityCertIssuer));
    m_serial->setText(QString::fromStdString(m_settings.SecurityCertSerial));
    m_expiration->setText(QString::fromStdString(m_settings.SecurityCertExpiration));
    m_disable->setEnabled(!m_settings.SecurityCertName.empty());
}

bool CSecurePage::WriteSettings() {
    m_settings.SecurityCertName = m_name->text().toStdString();
    m_settings.SecurityCertIssuer = m_issuer->text().toStdString();
    m_settings.SecurityCertSerial = m_serial->text().toStdString();
    m_settings.SecurityCertExpiration = m_expiration->text().toStdString();
    return true;
}

void CSecurePage::OnDisable() {
    for (QLineEdit* edit : {m_name, m_issuer, m_serial, m_expiration}) {
        edit->clear();
    }
}

void CSecurePage::OnSelect() {
    CSelectCertDlg dialog(this, m_root, m_name->text().toStdString());
    if (!m_runSelect(dialog)) {
        return;
    }
    const CChosenCertificate& chosen = dialog.Chosen();
    m_name->setText(QString::fromStdString(chosen.m_name));
    m_issuer->setText(QString::fromStdString(chosen.m_issuer));
    m_serial->setText(QString::fromStdString(chosen.m_serial));
    m_expiration->setText(QString::fromStdString(chosen.m_expiration));
    m_disable->setEnabled(true);
}

void CSecurePage::OnCreateRequest() {
    CCertRequestDlg dialog(this, m_root, m_settings.GeneralOrganizationName, m_settings.FQDN);
    if (!m_runRequest(dialog)) {
        return;
    }
    std::string message;
    const bool created = CreateCertificateRequest(m_root, dialog.Fields(), message);
    ShowMessage(this, message, created ? EPromptKind::kInformation : EPromptKind::kError);
}

void CSecurePage::OnInstall() {
    CFileChoice choice;
    choice.m_title = "Select Certificate File";
    choice.m_folder = m_root;
    choice.m_fileName = "certnew.cer";
    choice.m_patterns = {"*.cer", "*.*"};
    choice.m_mustExist = true;
    const std::optional<std::string> path = ChooseOpenFile(this, choice);
    if (!path || path->empty()) {
        return;
    }
    std::string message;
    const bool installed = InstallCertificate(m_root, *path, message);
    ShowMessage(this, message, installed ? EPromptKind::kInformation : EPromptKind::kError);
}
