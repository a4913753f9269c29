// The Secure Server page: the certificate the secure web server works with, chosen from the
// installation's certificate folder, cleared, requested from an authority or installed.
#pragma once

#include <functional>
#include <string>

#include "console/window/SettingsPage.h"

class CCertRequestDlg;
class CSelectCertDlg;
class QLineEdit;
class QPushButton;

class CSecurePage : public CSettingsPage {
public:
    using SelectRunner = std::function<bool(CSelectCertDlg& dialog)>;
    using RequestRunner = std::function<bool(CCertRequestDlg& dialog)>;

    CSecurePage(QWidget* parent, CServerSettings& settings, std::string root);

    bool WriteSettings() override;
    void OnSelect();
    void OnDisable();
    void OnCreateRequest();
    void OnInstall();
    void SetSelectRunner(SelectRunner runner) { m_runSelect = std::move(runner); }
    void SetRequestRunner(RequestRunner runner) { m_runRequest = std::move(runner); }

    QLineEdit* Name() const { return m_name; }
    QLineEdit* Issuer() const { return m_issuer; }
    QLineEdit* Serial() const { return m_serial; }
    QLineEdit* Expiration() const { return m_expiration; }
    QPushButton* DisableButton() const { return m_disable; }

protected:
    void ReadSettings() override;

private:
    std::string m_root;
    QLineEdit* m_name;
    QLineEdit* m_issuer;
    QLineEdit* m_serial;
    QLineEdit* m_expiration;
    QPushButton* m_disable;
    SelectRunner m_runSelect;
    RequestRunner m_runRequest;
};
