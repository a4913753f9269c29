// The data-source check's questions and dialogs, shown over the window.
#pragma once

#include "console/DbSetup.h"

class QWidget;

class CWindowDbSetupUi : public CDbSetupUi {
public:
    CWindowDbSetupUi(QWidget* parent, std::string root)
        : m_parent(parent), m_root(std::move(root)) {}

    void ShowMessage(const std::string& text) override;
    bool Ask(const std::string& question) override;
    bool ChooseDataSource(std::string& dsn, const std::string& message,
                          const std::string& defaultName) override;
    bool CreateTables(const std::string& info, const std::string& scriptPath,
                      COdbcConnection& db) override;

    // The set-up the dialogs run their steps through; set before the check runs.
    void SetDbSetup(CDbSetup* setup) { m_setup = setup; }

private:
    QWidget* m_parent;
    std::string m_root;
    CDbSetup* m_setup = nullptr;
};
