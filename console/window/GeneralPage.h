// The General page: organisation, address and ports, upload and session limits, and how the
// server runs (normal program or service, its start type and dependency).
#pragma once

#include "console/window/SettingsPage.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;

class CGeneralPage : public CSettingsPage {
public:
    CGeneralPage(QWidget* parent, CServerSettings& settings, int& runAs, int& startType);

    bool WriteSettings() override;
    // Puts the sheet's run mode back into the radios.
    void ShowRunAs();

    QLineEdit* Organization() const { return m_organization; }
    QComboBox* Address() const { return m_address; }
    QLineEdit* TcpPort() const { return m_tcpPort; }
    QLineEdit* SslPort() const { return m_sslPort; }
    QLineEdit* MaxUpload() const { return m_maxUpload; }
    QLineEdit* SessionTimeout() const { return m_sessionTimeout; }
    QButtonGroup* RunAs() const { return m_runAs; }
    QButtonGroup* StartType() const { return m_startType; }
    QComboBox* Dependency() const { return m_dependency; }

protected:
    void ReadSettings() override;
    void OnActivate() override;

private:
    void EnableServiceGroup();

    int& m_nRunAs;
    int& m_nStartType;
    QLineEdit* m_organization;
    QComboBox* m_address;
    QLineEdit* m_tcpPort;
    QLineEdit* m_sslPort;
    QLineEdit* m_maxUpload;
    QLineEdit* m_sessionTimeout;
    QButtonGroup* m_runAs;
    QButtonGroup* m_startType;
    QComboBox* m_dependency;
};
