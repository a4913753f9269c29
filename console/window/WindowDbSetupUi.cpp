#include "console/window/WindowDbSetupUi.h"

#include "console/window/CreateTablesDlg.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/Prompts.h"

void CWindowDbSetupUi::ShowMessage(const std::string& text) {
    ::ShowMessage(m_parent, text);
}

bool CWindowDbSetupUi::Ask(const std::string& question) {
    return AskYesNo(m_parent, question);
}

bool CWindowDbSetupUi::ChooseDataSource(std::string& dsn, const std::string& message,
                                        const std::string& defaultName) {
    CDataSourceDlg dialog(m_parent, m_root, dsn, defaultName, message);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    dsn = dialog.Current();
    return true;
}

bool CWindowDbSetupUi::CreateTables(const std::string& info, const std::string& scriptPath,
                                    COdbcConnection& db) {
    CCreateTablesDlg dialog(m_parent, *m_setup, db, info, scriptPath);
    return dialog.exec() == QDialog::Accepted;
}
