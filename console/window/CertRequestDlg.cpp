#include "console/window/CertRequestDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "console/Countries.h"
#include "console/window/FileChoice.h"

CCertRequestDlg::CCertRequestDlg(QWidget* parent, const std::string& root,
                                 const std::string& organization, const std::string& commonName)
    : QDialog(parent),
      m_root(root),
      m_certName(new QLineEdit(this)),
      m_commonName(new QLineEdit(QString::fromStdString(commonName), this)),
      m_keyBits(new QComboBox(this)),
      m_organization(new QLineEdit(QString::fromStdString(organization), this)),
      m_unit(new QLineEdit(this)),
      m_country(new QComboBox(this)),
      m_state(new QLineEdit(this)),
      m_city(new QLineEdit(this)),
      m_output(new QLineEdit(QString::fromStdString(root + "/cert_req.txt"), this)) {
    setWindowTitle("Create Certificate Request");
    for (int bits : kKeyBits) {
        m_keyBits->addItem(QString::number(bits));
    }
    for (const CCountry& country : Countries()) {
        m_country->addItem(country.m_name);
    }
    m_country->setCurrentText("United States");
    auto* browse = new QPushButton("&Browse...", this);
    auto* output = new QHBoxLayout;
    output->addWidget(m_output);
    output->addWidget(browse);
    auto* layout = new QFormLayout(this);
    layout->addRow("Certificate name: ", m_certName);
    layout->addRow("Common name: ", m_commonName);
    layout->addRow("RSA key bit length: ", m_keyBits);
    layout->addRow("Organization: ", m_organization);
    layout->addRow("Organization unit: ", m_unit);
    layout->addRow("Country/region: ", m_country);
    layout->addRow("State/province: ", m_state);
    layout->addRow("City/locality: ", m_city);
    layout->addRow("Certificate request output file name: ", output);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addRow(buttons);
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CCertRequestFields CCertRequestDlg::Fields() const {
    CCertRequestFields fields;
    fields.m_commonName = m_commonName->text().trimmed().toStdString();
    fields.m_keyBits = m_keyBits->currentText().toInt();
    fields.m_organization = m_organization->text().trimmed().toStdString();
    fields.m_unit = m_unit->text().trimmed().toStdString();
    fields.m_countryCode = CountryCode(m_country->currentText().toStdString());
    fields.m_state = m_state->text().trimmed().toStdString();
    fields.m_city = m_city->text().trimmed().toStdString();
    fields.m_outputFile = m_output->text().trimmed().toStdString();
    return fields;
}

void CCertRequestDlg::OnBrowse() {
    CFileChoice choice;
    choice.m_title = "Save Certificate Request As";
    choice.m_folder = m_root;
    choice.m_fileName = "cert_req.txt";
    choice.m_patterns = {"*.txt", "*.*"};
    choice.m_save = true;
    const std::optional<std::string> path = ChooseOpenFile(this, choice);
    if (path && !path->empty()) {
        m_output->setText(QString::fromStdString(*path));
    }
}
