// The modal "Settings" sheet: six pages over a working copy freshly loaded from the store.
// Save checks the whole copy, applies the service changes, and writes the copy only when it
// differs from the process's settings, which are then reloaded.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "console/window/ConsoleContext.h"

class CServerSettings;
class CSettingsPage;
class QTabWidget;

class CSettingsSht : public QDialog {
public:
    enum EPage { kGeneral, kDatabase, kTasks, kEmail, kSecure, kMime, kPageCount };

    CSettingsSht(QWidget* parent, CConsoleContext& context);
    ~CSettingsSht() override;

    // The Save button: true when the sheet closed with its changes applied.
    bool OnOK();

    CServerSettings& Copy() { return *m_settings; }
    QTabWidget* Tabs() const { return m_tabs; }
    CSettingsPage* Page(EPage page) const { return m_pages[page]; }
    // Shows a page as the user would by choosing its tab.
    void ShowPage(EPage page);

    // 0 normal program, 1 NT service.
    int m_nRunAs = 0;
    // 0 automatic, 1 manual, 2 disabled.
    int m_nStartType = 1;

    bool ApplyServiceConfig();
    bool RemoveService();
    bool InstallService();

private:
    bool ExchangeShownPages();
    // Leaving a page exchanges its data; a refusal keeps the user on it.
    void OnPageChanged(int index);
    void CertificateNotice();

    CConsoleContext& m_context;
    std::unique_ptr<CServerSettings> m_settings;
    // The start type the service manager reported when the sheet opened.
    int m_serviceStartType = 1;
    QTabWidget* m_tabs;
    CSettingsPage* m_pages[kPageCount] = {};
    int m_activePage = kGeneral;
};
