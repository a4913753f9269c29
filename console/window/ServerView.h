// The window's list of the server's components: the web servers and every scheduled task with
// their address or schedule and state, from the server while it runs, else from the settings.
// It carries the Server and Tools commands.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "console/window/ConsoleContext.h"
#include "console/window/ViewProfile.h"

class CDataSourceDlg;
class CSettingsSht;
class QAction;
class QTreeWidget;

class CServerView : public QWidget {
public:
    enum ECommand {
        kStart,
        kStop,
        kBrowse,
        kSettings,
        kViewLogFiles,
        kRefresh,
        kRunNow,
        kCurrentRequests,
        kCreateDataSource,
        kCommandCount
    };

    // Run a modal dialog; true for OK. Tests answer instead.
    using SheetRunner = std::function<bool(CSettingsSht& sheet)>;
    using DataSourceRunner = std::function<bool(CDataSourceDlg& dialog)>;

    CServerView(QWidget* parent, CConsoleContext& context, CViewProfile profile);
    ~CServerView() override;

    // Columns from the profile, the host's full name, the first refresh.
    void OnInitialUpdate();
    void OnRefresh();
    void OnStart();
    void OnStop();
    void OnBrowse();
    void OnSettings();
    void OnViewLogFiles();
    void OnRunNow();
    void OnCurrentRequests();
    void OnCreateDataSource();

    bool IsRunning() const { return m_bRunning; }
    QTreeWidget* List() const { return m_list; }
    QAction* Action(ECommand command) const { return m_actions[command]; }
    void SetSheetRunner(SheetRunner runner) { m_runSheet = std::move(runner); }
    void SetDataSourceRunner(DataSourceRunner runner) { m_runDataSource = std::move(runner); }
    // Called after Settings closed with its changes saved.
    void SetAfterSettings(std::function<void()> after) { m_afterSettings = std::move(after); }

private:
    void CreateActions();
    void UpdateActions();
    std::string GetTaskList();
    // Looks up the full name of the address behind the resolving box; stores and saves a
    // changed one.
    void UpdateDomainName();
    void CheckHostUnderscore();

    CConsoleContext& m_context;
    CViewProfile m_profile;
    QTreeWidget* m_list;
    QAction* m_actions[kCommandCount] = {};
    bool m_bRunning = false;
    SheetRunner m_runSheet;
    DataSourceRunner m_runDataSource;
    std::function<void()> m_afterSettings;
};
