// The Tasks page: one row per scheduled task. New, Edit and Delete change the rows; when they
// did, saving rebuilds the copy's task table from the rows in order.
#pragma once

#include <functional>
#include <string>

#include "console/window/SettingsPage.h"

class CTaskDlg;
class CTaskEntry;
class QTreeWidget;
class QTreeWidgetItem;

class CTaskPage : public CSettingsPage {
public:
    enum EColumn { kName, kStatus, kScript, kEvery, kAt };
    // Rows 0 to 5 are the system's own tasks; rows 0 to 12 keep their names.
    static constexpr int kSystemRows = 6;
    static constexpr int kNamedRows = 13;
    using DialogRunner = std::function<bool(CTaskDlg& dialog)>;

    CTaskPage(QWidget* parent, CServerSettings& settings, std::string root);

    bool WriteSettings() override;
    void OnNew();
    void OnEdit();
    void OnDelete();
    void SetDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    QTreeWidget* List() const { return m_list; }

protected:
    void ReadSettings() override;

private:
    void ShowTask(QTreeWidgetItem& item, const CTaskEntry& task);
    bool RunDialog(QTreeWidgetItem& item, bool isNew, int row);

    std::string m_root;
    QTreeWidget* m_list;
    DialogRunner m_runDialog;
};

// The task a row of the page describes.
CTaskEntry TaskFromRow(const std::string& name, const std::string& status,
                       const std::string& script, const std::string& every, const std::string& at);
