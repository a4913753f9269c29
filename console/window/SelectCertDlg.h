// "Select Certificate": the certificates of the installation's certificate folder, the one
// in use selected.
#pragma once

#include <QDialog>
#include <string>

class QTreeWidget;

struct CChosenCertificate {
    std::string m_name;
    std::string m_issuer;
    std::string m_expiration;
    std::string m_serial;
};

class CSelectCertDlg : public QDialog {
public:
    // current: the name of the certificate in use; empty selects the first row.
    CSelectCertDlg(QWidget* parent, const std::string& root, const std::string& current);

    // The OK button: takes the selected row, or asks for one.
    bool OnOK();
    const CChosenCertificate& Chosen() const { return m_chosen; }
    QTreeWidget* List() const { return m_list; }

private:
    QTreeWidget* m_list;
    CChosenCertificate m_chosen;
};
