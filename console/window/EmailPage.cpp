#include "console/window/EmailPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/settings/ServerSettings.h"

namespace {

using S = CServerSettings;

struct CFieldRow {
    CEmailPage::EField m_field;
    const char* m_label;
    std::string S::*m_member;  // nullptr: the field has rules of its own
};

constexpr CFieldRow kRows[] = {
    {CEmailPage::kAdminEmail,
     "Administrator email adresses:  (use semi-colon to separate addresses)", &S::EmAdminEmail},
    {CEmailPage::kSmtpServer, "Outgoing mail (SMTP) server", &S::EmSmtpServer},
    {CEmailPage::kSmtpPort, "Port", &S::EmSmtpPort},
    {CEmailPage::kSmtpUserName, "Account name", &S::EmSmtpUserName},
    {CEmailPage::kSmtpPassword, "Password", &S::EmSmtpPassword},
    {CEmailPage::kMaxEmailOut, "Max number of emails per day:", nullptr},
    {CEmailPage::kHttpAddr, "http://", nullptr},
    {CEmailPage::kHttpsAddr, "https://", nullptr},
    {CEmailPage::kPop3Server, "Incoming mail (POP3) server", &S::EmPop3Server},
    {CEmailPage::kPop3Port, "Port", &S::EmPop3Port},
    {CEmailPage::kImporterEmail, "Email Importer email address", &S::EmImporterEmail},
    {CEmailPage::kImporterUserName, "Account name", &S::EmImporterUserName},
    {CEmailPage::kImporterPassword, "Password", &S::EmImporterPassword},
};

std::string Trimmed(const QLineEdit* edit) {
    return std::string(TrimAsciiSpace(edit->text().toStdString()));
}

}  // namespace

std::string WebAddressFromField(const std::string& scheme, const std::string& field) {
    const std::string text(TrimAsciiSpace(field));
    return text.empty() ? std::string() : scheme + text;
}

std::string FieldFromWebAddress(const std::string& scheme, const std::string& address) {
    if (address.size() >= scheme.size() &&
        AsciiEqualNoCase(address.substr(0, scheme.size()), scheme)) {
        return address.substr(scheme.size());
    }
    return address;
}

CEmailPage::CEmailPage(QWidget* parent, CServerSettings& settings)
    : CSettingsPage(parent, settings) {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    for (const CFieldRow& row : kRows) {
        m_fields[row.m_field] = new QLineEdit(this);
        form->addRow(row.m_label, m_fields[row.m_field]);
    }
    m_fields[kSmtpPassword]->setEchoMode(QLineEdit::Password);
    m_fields[kImporterPassword]->setEchoMode(QLineEdit::Password);
    layout->addLayout(form);
    layout->addStretch();
}

void CEmailPage::ReadSettings() {
    for (const CFieldRow& row : kRows) {
        if (row.m_member != nullptr) {
            m_fields[row.m_field]->setText(QString::fromStdString(m_settings.*row.m_member));
        }
    }
    m_fields[kMaxEmailOut]->setText(QString::number(m_settings.EmMaxEmailOut));
    m_fields[kHttpAddr]->setText(
        QString::fromStdString(FieldFromWebAddress("http://", m_settings.GeneralHttpAddr)));
    m_fields[kHttpsAddr]->setText(
        QString::fromStdString(FieldFromWebAddress("https://", m_settings.GeneralHttpsAddr)));
}

bool CEmailPage::WriteSettings() {
    for (const CFieldRow& row : kRows) {
        if (row.m_member != nullptr) {
            m_settings.*row.m_member = Trimmed(m_fields[row.m_field]);
        }
    }
    m_settings.EmMaxEmailOut =
        std::max(kLeastEmailOut, std::atoi(Trimmed(m_fields[kMaxEmailOut]).c_str()));
    m_settings.GeneralHttpAddr = WebAddressFromField("http://", Trimmed(m_fields[kHttpAddr]));
    m_settings.GeneralHttpsAddr = WebAddressFromField("https://", Trimmed(m_fields[kHttpsAddr]));
    return true;
}
