#include "console/window/GeneralPage.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/ServiceControl.h"
#include "console/window/Prompts.h"
#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/LogWriter.h"
#include "engine/settings/ServerSettings.h"

namespace {

// The integer of an edit within its bounds; otherwise the user is told and the edit focused.
bool ReadBounded(QWidget* page, QLineEdit* edit, int least, int most, int& value) {
    bool ok = false;
    const int number = edit->text().trimmed().toInt(&ok);
    if (!ok || number < least || number > most) {
        ShowMessage(page, "Please enter an integer between " + std::to_string(least) + " and " +
                              std::to_string(most) + ".");
        edit->setFocus();
        return false;
    }
    value = number;
    return true;
}

QButtonGroup* Radios(QWidget* parent, QLayout* layout, std::initializer_list<const char*> texts) {
    auto* group = new QButtonGroup(parent);
    int id = 0;
    for (const char* text : texts) {
        auto* radio = new QRadioButton(text, parent);
        group->addButton(radio, id++);
        layout->addWidget(radio);
    }
    return group;
}

}  // namespace

CGeneralPage::CGeneralPage(QWidget* parent, CServerSettings& settings, int& runAs, int& startType)
    : CSettingsPage(parent, settings),
      m_nRunAs(runAs),
      m_nStartType(startType),
      m_organization(new QLineEdit(this)),
      m_address(new QComboBox(this)),
      m_tcpPort(new QLineEdit(this)),
      m_sslPort(new QLineEdit(this)),
      m_maxUpload(new QLineEdit(this)),
      m_sessionTimeout(new QLineEdit(this)),
      m_dependency(new QComboBox(this)) {
    m_address->setEditable(true);
    m_dependency->setEditable(true);
    m_dependency->addItem("postgresql");
    m_dependency->lineEdit()->setMaxLength(static_cast<int>(CServiceControl::kMaxDependency));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Name of your organization (shown on every web page):", this));
    layout->addWidget(m_organization);
    auto* form = new QFormLayout;
    form->addRow("Web server IP address:", m_address);
    form->addRow("TCP Port: ", m_tcpPort);
    form->addRow("SSL Port: ", m_sslPort);
    form->addRow("Max upload (MB)", m_maxUpload);
    auto* session = new QHBoxLayout;
    session->addWidget(new QLabel("Terminate a session ", this));
    session->addWidget(m_sessionTimeout);
    session->addWidget(new QLabel("minutes after it is created", this));
    form->addRow(session);
    layout->addLayout(form);

    auto* runBox = new QGroupBox("Run as", this);
    auto* runLayout = new QHBoxLayout(runBox);
    m_runAs = Radios(runBox, runLayout, {"Normal Program", "NT Service"});
    layout->addWidget(runBox);
    auto* startBox = new QGroupBox("Startup type", this);
    auto* startLayout = new QHBoxLayout(startBox);
    m_startType = Radios(startBox, startLayout, {"Automatic", "Manual", "Disabled"});
    layout->addWidget(startBox);
    auto* dependency = new QFormLayout;
    dependency->addRow("Service Dependency:", m_dependency);
    layout->addLayout(dependency);
    layout->addStretch();

    connect(m_runAs, &QButtonGroup::idClicked, this, [this](int id) {
        m_nRunAs = id;
        EnableServiceGroup();
    });
}

void CGeneralPage::ReadSettings() {
    m_organization->setText(QString::fromStdString(m_settings.GeneralOrganizationName));
    m_tcpPort->setText(QString::fromStdString(m_settings.GeneralTcpipPort));
    m_sslPort->setText(QString::fromStdString(m_settings.GeneralSslPort));
    m_maxUpload->setText(QString::number(m_settings.GeneralMaxUpload));
    m_sessionTimeout->setText(QString::number(m_settings.GeneralSessionTimeout));
    m_dependency->setEditText(QString::fromStdString(m_settings.ServiceDependency));
    ShowRunAs();
    m_startType->button(m_nStartType)->setChecked(true);

    m_address->clear();
    std::vector<std::string> addresses;
    switch (ListHostAddresses(addresses, HostLoopback::kInclude)) {
        case CServerSettings::HostListing::kNoHostName:
            g_log.Log("Failed to get local host name");
            break;
        case CServerSettings::HostListing::kNoAddresses:
            g_log.Log("Failed to get local host hostent");
            break;
        case CServerSettings::HostListing::kListed:
            break;
    }
    for (const std::string& address : addresses) {
        m_address->addItem(QString::fromStdString(address));
    }
    const QString configured = QString::fromStdString(m_settings.GeneralTcpipAddress);
    if (m_address->findText(configured) < 0) {
        m_address->addItem(configured);
    }
    m_address->setCurrentIndex(m_address->findText(configured));
}

void CGeneralPage::ShowRunAs() {
    m_runAs->button(m_nRunAs)->setChecked(true);
    EnableServiceGroup();
}

void CGeneralPage::EnableServiceGroup() {
    const bool service = m_nRunAs == 1;
    for (QAbstractButton* radio : m_startType->buttons()) {
        radio->setEnabled(service);
    }
    m_dependency->setEnabled(service);
}

void CGeneralPage::OnActivate() {
    m_sslPort->setEnabled(!m_settings.SecurityCertName.empty());
}

bool CGeneralPage::WriteSettings() {
    int upload = 0;
    int session = 0;
    if (!ReadBounded(this, m_maxUpload, 1, 1000, upload) ||
        !ReadBounded(this, m_sessionTimeout, 1, 1440, session)) {
        return false;
    }
    m_settings.GeneralOrganizationName = m_organization->text().toStdString();
    m_settings.GeneralTcpipAddress = m_address->currentText().trimmed().toStdString();
    m_settings.GeneralTcpipPort = m_tcpPort->text().trimmed().toStdString();
    m_settings.GeneralSslPort = m_sslPort->text().trimmed().toStdString();
    m_settings.GeneralMaxUpload = upload;
    m_settings.GeneralSessionTimeout = session;
    m_settings.ServiceDependency =
        std::string(TrimAsciiSpace(m_dependency->currentText().toStdString()));
    m_nRunAs = m_runAs->checkedId();
    m_nStartType = m_startType->checkedId();
    return true;
}
