// "Create Certificate Request": the subject of the request, the key length and the file the
// request is written to.
#pragma once

#include <QDialog>

#include "console/CertRequest.h"

class QComboBox;
class QLineEdit;

class CCertRequestDlg : public QDialog {
public:
    // Key lengths offered; the first is the default.
    static constexpr int kKeyBits[] = {2048, 4096};

    // organization: preset; commonName: the server's full name; root: where Browse starts
    // and the request file goes by default.
    CCertRequestDlg(QWidget* parent, const std::string& root, const std::string& organization,
                    const std::string& commonName);

    // The fields as entered, the country as its code.
    CCertRequestFields Fields() const;
    void OnBrowse();

    QLineEdit* CertificateName() const { return m_certName; }
    QLineEdit* CommonName() const { return m_commonName; }
    QComboBox* KeyBits() const { return m_keyBits; }
    QLineEdit* Organization() const { return m_organization; }
    QLineEdit* Unit() const { return m_unit; }
    QComboBox* Country() const { return m_country; }
    QLineEdit* State() const { return m_state; }
    QLineEdit* City() const { return m_city; }
    QLineEdit* OutputFile() const { return m_output; }

private:
    std::string m_root;
    QLineEdit* m_certName;
    QLineEdit* m_commonName;
    QComboBox* m_keyBits;
    QLineEdit* m_organization;
    QLineEdit* m_unit;
    QComboBox* m_country;
    QLineEdit* m_state;
    QLineEdit* m_city;
    QLineEdit* m_output;
};
