#include "console/window/SettingsSht.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/ConsoleMessages.h"
#include "console/ServerControl.h"
#include "console/window/DbPage.h"
#include "console/window/EmailPage.h"
#include "console/window/GeneralPage.h"
#include "console/window/MimeTypePage.h"
#include "console/window/Prompts.h"
#include "console/window/SaveChecks.h"
#include "console/window/SecurePage.h"
#include "console/window/TaskPage.h"
#include "console/window/WaitCursor.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/ObjectNames.h"
#include "engine/settings/ServerSettings.h"

namespace {

constexpr const char* kServerProgram = "Tallgrove";
constexpr size_t kMaxServicePath = 250;

}  // namespace

CSettingsSht::CSettingsSht(QWidget* parent, CConsoleContext& context)
    : QDialog(parent),
      m_context(context),
      m_settings(std::make_unique<CServerSettings>(context.m_root, SettingsBuild::kConsole)),
      m_tabs(new QTabWidget(this)) {
    setWindowTitle("Settings");
    {
        CWaitCursor wait;
        int type = 0;
        if (!m_context.m_serviceFactory()->QueryStartType(kServiceName, type)) {
            m_serviceStartType = CServiceControl::kManual;
        } else {
            m_serviceStartType =
                type == CServiceControl::kAutomatic || type == CServiceControl::kManual
                    ? type
                    : CServiceControl::kDisabled;
        }
        m_settings->Load();
    }
    m_nRunAs = m_context.m_control.IsServiceInstalled() ? 1 : 0;
    m_nStartType = m_serviceStartType;

    m_pages[kGeneral] = new CGeneralPage(this, *m_settings, m_nRunAs, m_nStartType);
    m_pages[kDatabase] = new CDbPage(this, *m_settings, m_context);
    m_pages[kTasks] = new CTaskPage(this, *m_settings, m_context.m_root);
    m_pages[kEmail] = new CEmailPage(this, *m_settings);
    m_pages[kSecure] = new CSecurePage(this, *m_settings, m_context.m_root);
    m_pages[kMime] = new CMimeTypePage(this, *m_settings);
    const char* const captions[kPageCount] = {"General", "Database",      "Tasks",
                                              "Email",   "Secure Server", "Mime Type"};
    for (int i = 0; i < kPageCount; ++i) {
        m_tabs->addTab(m_pages[i], captions[i]);
    }
    // Leaving a page exchanges its data; a refusal keeps the user on it.
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) { OnPageChanged(index); });
    m_pages[kGeneral]->Activate();

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton("Save", QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(save, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

CSettingsSht::~CSettingsSht() = default;

void CSettingsSht::ShowPage(EPage page) {
    m_tabs->setCurrentIndex(page);
    m_pages[page]->Activate();
}

void CSettingsSht::OnPageChanged(int index) {
    if (index == m_activePage || index < 0 || index >= kPageCount) {
        return;
    }
    if (!m_pages[m_activePage]->WriteSettings()) {
        m_tabs->setCurrentIndex(m_activePage);
        return;
    }
    m_activePage = index;
    m_pages[index]->Activate();
}

bool CSettingsSht::ExchangeShownPages() {
    for (int i = 0; i < kPageCount; ++i) {
        if (m_pages[i]->WasShown() && !m_pages[i]->WriteSettings()) {
            m_tabs->setCurrentIndex(i);
            return false;
        }
    }
    return true;
}

bool CSettingsSht::OnOK() {
    if (!ExchangeShownPages()) {
        return false;
    }
    CServerControl& control = m_context.m_control;
    const bool running = control.IsServerRunning();
    // Every check comes before the question that may stop the server: a refusal never leaves
    // the server stopped.
    const CSaveCheck check = CheckSettingsForSave(*m_settings, m_context.m_settings, running);
    if (!check.m_refusal.empty()) {
        ShowMessage(this, check.m_refusal, EPromptKind::kWarning);
        return false;
    }
    if (check.m_askAddressChange) {
        if (!AskYesNo(this, ConsoleMessages().msgAddressChanged)) {
            return false;
        }
        std::string text;
        CWaitCursor wait;
        if (!control.DoStopServer(text)) {
            ShowMessage(this, text, EPromptKind::kError);
            return false;
        }
    }
    if (check.m_warnImporters) {
        ShowMessage(this, ImportersWarning(), EPromptKind::kWarning);
    }
    const bool installed = control.IsServiceInstalled();
    if ((!installed && m_nRunAs == 1 && !InstallService()) ||
        (installed && m_nRunAs == 0 && !RemoveService()) ||
        (installed && m_nRunAs == 1 && !ApplyServiceConfig())) {
        return false;
    }
    if (!m_settings->SecurityCertName.empty()) {
        CertificateNotice();
    }
    if (m_context.m_settings.IsDifferent(*m_settings)) {
        if (!m_settings->Save()) {
            ShowMessage(this, "Failed to save settings.", EPromptKind::kError);
            return false;
        }
        m_context.m_settings.Load();
        if (control.IsServerRunning()) {
            ShowMessage(this, ConsoleMessages().msgStopAndRestart);
        }
    }
    control.SetServiceInstalled(m_nRunAs == 1);
    accept();
    return true;
}

void CSettingsSht::CertificateNotice() {
    const std::string& address = m_settings->GeneralTcpipAddress;
    std::string name = ResolveDomainName(address, m_context.m_resolver);
    // A lookup that found no name gives the address back: that counts as no name.
    if (name == address) {
        name.clear();
    }
    if (name != address && !AsciiEqualNoCase(name, m_settings->SecurityCertName)) {
        ShowMessage(this, FormatMessage("The certificate you selected was not issued to "
                                        "%s.\nWhen a user access this secure website using "
                                        "https, he/she\nwill be asked by the web browser "
                                        "whether to accept the certificate.",
                                        {name}));
    }
}

bool CSettingsSht::ApplyServiceConfig() {
    auto service = m_context.m_serviceFactory();
    if (m_nStartType != m_serviceStartType &&
        !service->ChangeStartType(kServiceName, m_nStartType)) {
        ShowMessage(this, service->Error() + "\r\nFailed to change NT service startup type",
                    EPromptKind::kError);
        return false;
    }
    if (m_settings->ServiceDependency == m_context.m_settings.ServiceDependency) {
        return true;
    }
    if (!service->SetDependency(kServiceName, m_settings->ServiceDependency)) {
        ShowMessage(this, service->Error() + "\r\nFailed to change NT service dependency",
                    EPromptKind::kError);
        return false;
    }
    return true;
}

bool CSettingsSht::RemoveService() {
    const CConsoleMessages& msg = ConsoleMessages();
    const bool running = m_context.m_control.IsServerRunning();
    if (!AskYesNo(this, running ? msg.msgAskStopAndRemoveService : msg.msgAskRemoveService)) {
        m_nRunAs = 1;
        static_cast<CGeneralPage*>(m_pages[kGeneral])->ShowRunAs();
        return false;
    }
    auto service = m_context.m_serviceFactory();
    if (!service->Remove(kServiceName)) {
        ShowMessage(this, msg.msgRemoveServiceFailed + service->Error(), EPromptKind::kError);
        return false;
    }
    return true;
}

bool CSettingsSht::InstallService() {
    const CConsoleMessages& msg = ConsoleMessages();
    CServerControl& control = m_context.m_control;
    // Everything that can refuse the service comes before the question that stops the server:
    // a host that cannot take it never loses its running server.
    const std::string& own = m_context.m_programPath;
    const std::string program = own.substr(0, own.rfind('/') + 1) + kServerProgram;
    if (program.size() >= kMaxServicePath) {
        ShowMessage(this, "Service file name too long.", EPromptKind::kError);
        return false;
    }
    if (m_settings->ServiceDependency.size() > CServiceControl::kMaxDependency) {
        ShowMessage(this, "Depend on service name must shorter then 50 characters",
                    EPromptKind::kError);
        return false;
    }
    auto service = m_context.m_serviceFactory();
    if (!service->CanInstall()) {
        ShowMessage(this, msg.msgInstallServiceFailed + service->Error(), EPromptKind::kError);
        return false;
    }
    const bool running = control.IsServerRunning();
    if (!AskYesNo(this, running ? msg.msgAskStopAndInstallService : msg.msgAskInstallService)) {
        m_nRunAs = 0;
        static_cast<CGeneralPage*>(m_pages[kGeneral])->ShowRunAs();
        return false;
    }
    if (running) {
        std::string text;
        CWaitCursor wait;
        if (!control.DoStopServer(text)) {
            ShowMessage(this, text, EPromptKind::kError);
            return false;
        }
    }
    if (!service->Install(program, kServiceName, m_nStartType, m_settings->ServiceDependency)) {
        ShowMessage(this, msg.msgInstallServiceFailed + service->Error(), EPromptKind::kError);
        return false;
    }
    return true;
}
