// The Database page: the connection string (changed through the data-source dialog), the
// compaction of the database file, and how the server shares its connections.
#pragma once

#include <functional>
#include <string>

#include "console/window/ConsoleContext.h"
#include "console/window/SettingsPage.h"

class CDataSourceDlg;
class QCheckBox;
class QLineEdit;

class CDbPage : public CSettingsPage {
public:
    // Runs the data-source dialog; true for OK. Tests choose instead.
    using DialogRunner = std::function<bool(CDataSourceDlg& dialog)>;

    CDbPage(QWidget* parent, CServerSettings& settings, CConsoleContext& context);

    bool WriteSettings() override;
    void OnChange();
    void OnCompact();
    void SetDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }

    QLineEdit* ConnectString() const { return m_connect; }
    QCheckBox* Serialize() const { return m_serialize; }
    QCheckBox* ThreadOwn() const { return m_threadOwn; }

protected:
    void ReadSettings() override;

private:
    // The connection string of the chosen data source as the driver completes it, once its
    // tables are there; empty (after telling the user) when it cannot be used.
    std::string OpenChosen(const std::string& dsn);

    CConsoleContext& m_context;
    QLineEdit* m_connect;
    QCheckBox* m_serialize;
    QCheckBox* m_threadOwn;
    DialogRunner m_runDialog;
};
