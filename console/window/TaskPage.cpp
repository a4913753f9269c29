#include "console/window/TaskPage.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "console/window/Prompts.h"
#include "console/window/ReportList.h"
#include "console/window/RunModal.h"
#include "console/window/TaskDlg.h"
#include "console/window/TaskTimes.h"
#include "engine/settings/ServerSettings.h"

CTaskEntry TaskFromRow(const std::string& name, const std::string& status,
                       const std::string& script, const std::string& every, const std::string& at) {
    CTaskEntry task;
    task.m_name = name;
    task.m_enabled = status == "Enabled";
    task.m_scriptPath = script;
    task.m_dayCode = CTaskEntry::DayCodeFromName(every);
    if (task.m_dayCode == CTaskEntry::kInterval) {
        task.m_interval = static_cast<int64_t>(std::atoi(every.c_str())) * 60;
    } else if (!ParseTimeOfDay(at, task.m_interval)) {
        task.m_interval = 0;
    }
    return task;
}

CTaskPage::CTaskPage(QWidget* parent, CServerSettings& settings, std::string root)
    : CSettingsPage(parent, settings),
      m_root(std::move(root)),
      m_list(MakeReportList(this, {"Name", "Status", "Run Script", "Every", "At"})),
      m_runDialog(&RunModal<CTaskDlg>) {
    const int widths[] = {200, 70, 155, 95, 70};
    for (int i = 0; i < 5; ++i) {
        m_list->setColumnWidth(i, widths[i]);
    }
    QHBoxLayout* buttons = MakeCommandRow(this, {{"&New...", [this] { OnNew(); }},
                                                 {"&Edit...", [this] { OnEdit(); }},
                                                 {"&Delete", [this] { OnDelete(); }}});
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { OnEdit(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
}

void CTaskPage::ShowTask(QTreeWidgetItem& item, const CTaskEntry& task) {
    const bool interval = task.m_dayCode == CTaskEntry::kInterval;
    item.setText(kName, QString::fromStdString(task.m_name));
    item.setText(kStatus, task.m_enabled ? "Enabled" : "Disabled");
    item.setText(kScript, QString::fromStdString(task.m_scriptPath));
    item.setText(kEvery, interval ? QString("%1 minute(s)").arg(task.m_interval / 60)
                                  : QString::fromStdString(task.GetDayName()));
    item.setText(kAt,
                 interval ? QString() : QString::fromStdString(TimeOfDayText(task.m_interval)));
}

void CTaskPage::ReadSettings() {
    m_list->clear();
    std::lock_guard<std::recursive_mutex> lock(m_settings.TaskLock());
    for (const CTaskEntry& task : m_settings.m_tasks) {
        ShowTask(*new QTreeWidgetItem(m_list), task);
    }
    if (m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
}

bool CTaskPage::RunDialog(QTreeWidgetItem& item, bool isNew, int row) {
    CTaskFields fields;
    if (!isNew) {
        fields.m_name = item.text(kName).toStdString();
        fields.m_enabled = item.text(kStatus) == "Enabled";
        fields.m_script = item.text(kScript).toStdString();
        if (!item.text(kAt).isEmpty()) {
            fields.m_mode = CTaskFields::kDayAndTime;
            fields.m_day = item.text(kEvery).toStdString();
            fields.m_time = item.text(kAt).toStdString();
        } else {
            fields.m_mode = CTaskFields::kInterval;
            fields.m_interval = std::to_string(std::atoi(item.text(kEvery).toStdString().c_str()));
        }
        fields.m_nameLocked = row < kNamedRows;
        fields.m_emailSender = row == 0;
    }
    CTaskDlg dialog(this, fields, m_root);
    if (!m_runDialog(dialog)) {
        return false;
    }
    const CTaskFields& chosen = dialog.Fields();
    CTaskEntry task;
    task.m_name = chosen.m_name;
    task.m_enabled = chosen.m_enabled;
    task.m_scriptPath = chosen.m_script;
    if (chosen.m_mode == CTaskFields::kInterval) {
        task.m_dayCode = CTaskEntry::kInterval;
        task.m_interval = static_cast<int64_t>(std::atoi(chosen.m_interval.c_str())) * 60;
    } else {
        task.m_dayCode = CTaskEntry::DayCodeFromName(chosen.m_day);
        ParseTimeOfDay(chosen.m_time, task.m_interval);
    }
    ShowTask(item, task);
    m_settings.m_tasksChanged = true;
    return true;
}

void CTaskPage::OnNew() {
    auto item = std::make_unique<QTreeWidgetItem>();
    if (RunDialog(*item, true, m_list->topLevelItemCount())) {
        m_list->addTopLevelItem(item.release());
    }
}

void CTaskPage::OnEdit() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr) {
        ShowMessage(this, "Please select the task to edit.");
        return;
    }
    RunDialog(*item, false, m_list->indexOfTopLevelItem(item));
}

void CTaskPage::OnDelete() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr) {
        ShowMessage(this, "Please select the task to edit.");
        return;
    }
    const int row = m_list->indexOfTopLevelItem(item);
    if (row < kSystemRows) {
        ShowMessage(this, "Tasks 1 to 6 are system tasks and can not be deleted");
        return;
    }
    m_list->setCurrentItem(m_list->topLevelItem(row - 1));
    std::unique_ptr<QTreeWidgetItem> gone(m_list->takeTopLevelItem(row));
    m_settings.m_tasksChanged = true;
}

bool CTaskPage::WriteSettings() {
    // Rows the user did not change are left as loaded: the page's texts round minutes.
    if (!m_settings.m_tasksChanged) {
        return true;
    }
    std::lock_guard<std::recursive_mutex> lock(m_settings.TaskLock());
    m_settings.m_tasks.clear();
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        CTaskEntry task =
            TaskFromRow(item->text(kName).toStdString(), item->text(kStatus).toStdString(),
                        item->text(kScript).toStdString(), item->text(kEvery).toStdString(),
                        item->text(kAt).toStdString());
        m_settings.ComputeNextRun(task);
        m_settings.m_tasks.push_back(std::move(task));
    }
    return true;
}
