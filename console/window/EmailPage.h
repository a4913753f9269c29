// The Email page: the administrators' addresses, the outgoing and incoming mail servers, the
// daily limit and the web addresses that mails link to.
#pragma once

#include <string>

#include "console/window/SettingsPage.h"

class QLineEdit;

class CEmailPage : public CSettingsPage {
public:
    enum EField {
        kAdminEmail,
        kSmtpServer,
        kSmtpPort,
        kSmtpUserName,
        kSmtpPassword,
        kMaxEmailOut,
        kHttpAddr,
        kHttpsAddr,
        kPop3Server,
        kPop3Port,
        kImporterEmail,
        kImporterUserName,
        kImporterPassword,
        kFieldCount
    };
    // The least daily limit the page stores.
    static constexpr int kLeastEmailOut = 50;

    CEmailPage(QWidget* parent, CServerSettings& settings);

    bool WriteSettings() override;
    QLineEdit* Field(EField field) const { return m_fields[field]; }

protected:
    void ReadSettings() override;

private:
    QLineEdit* m_fields[kFieldCount] = {};
};

// The stored form of a web address field: empty stays empty (the server computes the
// address), anything else gets the scheme in front.
std::string WebAddressFromField(const std::string& scheme, const std::string& field);
// The field's form of a stored address: without the scheme when it starts with it (any case).
std::string FieldFromWebAddress(const std::string& scheme, const std::string& address);
