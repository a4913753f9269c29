#include "console/window/ServerView.h"

#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "console/ConsoleClient.h"
#include "console/ConsoleMessages.h"
#include "console/ServerControl.h"
#include "console/window/CurrentRequestsDlg.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/FileChoice.h"
#include "console/window/Prompts.h"
#include "console/window/ReportList.h"
#include "console/window/ResolvingDlg.h"
#include "console/window/RunModal.h"
#include "console/window/SettingsSht.h"
#include "console/window/WaitCursor.h"
#include "engine/foundation/SystemError.h"
#include "engine/script/DesktopOpener.h"
#include "engine/settings/ServerSettings.h"

namespace {

constexpr const char* kOpener = "xdg-open";

// Why the desktop's opener could not be started: missing from PATH, or refused to start.
std::string OpenerFailure() {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        const std::string file = folders.substr(start, end - start) + "/" + kOpener;
        if (end > start && ::access(file.c_str(), X_OK) == 0) {
            return "the program could not be started";
        }
        start = end + 1;
    }
    return FormatSystemError(ENOENT);
}

}  // namespace

CServerView::CServerView(QWidget* parent, CConsoleContext& context, CViewProfile profile)
    : QWidget(parent),
      m_context(context),
      m_profile(std::move(profile)),
      m_list(MakeReportList(this, {"#", "Server Component", "Status", "Start Time"})),
      m_runSheet(&RunModal<CSettingsSht>),
      m_runDataSource(&RunModal<CDataSourceDlg>) {
    // Saved widths down to the smallest the profile accepts are shown as saved.
    m_list->header()->setMinimumSectionSize(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    CreateActions();
}

CServerView::~CServerView() {
    ColumnWidths widths{};
    for (size_t i = 0; i < widths.size(); ++i) {
        widths[i] = m_list->columnWidth(static_cast<int>(i));
    }
    m_profile.WriteColumnWidths(widths);
}

void CServerView::CreateActions() {
    struct Row {
        ECommand m_command;
        const char* m_text;
        void (CServerView::*m_handler)();
    };
    static constexpr Row kRows[] = {
        {kStart, "&Start", &CServerView::OnStart},
        {kStop, "S&top...", &CServerView::OnStop},
        {kBrowse, "&Browse", &CServerView::OnBrowse},
        {kSettings, "S&ettings...", &CServerView::OnSettings},
        {kViewLogFiles, "&View Log Files...", &CServerView::OnViewLogFiles},
        {kRefresh, "&Refresh", &CServerView::OnRefresh},
        {kRunNow, "Run &Now...", &CServerView::OnRunNow},
        {kCurrentRequests, "&Current Requests...", &CServerView::OnCurrentRequests},
        {kCreateDataSource, "Create Data Source...", &CServerView::OnCreateDataSource},
    };
    for (const Row& row : kRows) {
        QAction* action = new QAction(row.m_text, this);
        connect(action, &QAction::triggered, this,
                [this, handler = row.m_handler] { (this->*handler)(); });
        m_actions[row.m_command] = action;
    }
    UpdateActions();
}

void CServerView::UpdateActions() {
    for (ECommand command : {kStop, kBrowse, kRunNow, kCurrentRequests}) {
        m_actions[command]->setEnabled(m_bRunning);
    }
    m_actions[kStart]->setEnabled(!m_bRunning);
}

void CServerView::OnInitialUpdate() {
    ColumnWidths widths = m_profile.ReadColumnWidths();
    if (!ColumnWidthsUsable(widths)) {
        widths = SampleColumnWidths(m_list->fontMetrics());
    }
    for (size_t i = 0; i < widths.size(); ++i) {
        m_list->setColumnWidth(static_cast<int>(i), widths[i]);
    }
    UpdateDomainName();
    OnRefresh();
    CheckHostUnderscore();
}

void CServerView::UpdateDomainName() {
    CServerSettings& settings = m_context.m_settings;
    std::string name;
    {
        CResolvingDlg box(this);
        box.show();
        QApplication::processEvents();
        name = ResolveDomainName(settings.GeneralTcpipAddress, m_context.m_resolver);
    }
    if (name != settings.FQDN) {
        settings.FQDN = name;
        settings.Save();
    }
}

void CServerView::CheckHostUnderscore() {
    const std::string& name = m_context.m_settings.FQDN;
    if (!name.empty() && name.find('_') != std::string::npos) {
        ShowMessage(this, FormatMessage(ConsoleMessages().msgUnderscoreHost, {name}),
                    EPromptKind::kWarning);
    }
}

std::string CServerView::GetTaskList() {
    const CServerSettings& settings = m_context.m_settings;
    std::string text;
    std::string error;
    CConsoleClient client(settings.GeneralTcpipAddress,
                          std::atoi(settings.GeneralTcpipPort.c_str()));
    if (!client.GetTaskList(text, error)) {
        ShowMessage(this, error, EPromptKind::kError);
        return std::string();
    }
    return text;
}

void CServerView::OnRefresh() {
    m_list->clear();
    m_bRunning = m_context.m_control.IsServerRunning();
    const std::string text = m_bRunning ? GetTaskList() : StoppedServerText(m_context.m_settings);
    for (const CServerRow& row : ParseServerRows(text)) {
        auto* item = new QTreeWidgetItem(m_list);
        for (int column = 0; column < 4; ++column) {
            item->setText(column, QString::fromStdString(row.m_columns[column]));
            item->setToolTip(column, QString::fromStdString(row.m_columns[column]));
        }
        item->setData(0, Qt::UserRole, static_cast<qlonglong>(row.m_itemData));
    }
    if (m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
    UpdateActions();
}

void CServerView::OnStart() {
    CServerControl& control = m_context.m_control;
    const CServerSettings& settings = m_context.m_settings;
    control.SetWebServer(settings.GeneralTcpipAddress,
                         std::atoi(settings.GeneralTcpipPort.c_str()));
    // The window keeps drawing while the start is polled; Start stays off until it is decided.
    control.SetPollWait([](std::chrono::milliseconds interval) {
        QEventLoop loop;
        QTimer::singleShot(interval, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    });
    m_actions[kStart]->setEnabled(false);
    std::string text;
    bool started = false;
    {
        CWaitCursor wait;
        started = control.DoStartServer(text);
    }
    control.SetPollWait(nullptr);
    UpdateActions();
    if (!started) {
        ShowMessage(this, text, EPromptKind::kError);
        return;
    }
    OnRefresh();
    if (AskYesNo(this, StartNotice(m_context.m_settings))) {
        OnBrowse();
    }
}

void CServerView::OnStop() {
    CServerControl& control = m_context.m_control;
    const std::string kind = control.IsServiceInstalled() ? "NT Service" : "";
    if (!AskYesNo(this, FormatMessage(ConsoleMessages().msgAskStop, {kind}))) {
        return;
    }
    std::string text;
    bool stopped = false;
    {
        CWaitCursor wait;
        stopped = control.DoStopServer(text);
    }
    if (!stopped) {
        ShowMessage(this, text, EPromptKind::kError);
        return;
    }
    OnRefresh();
}

void CServerView::OnBrowse() {
    const CServerSettings& settings = m_context.m_settings;
    std::string error;
    if (!WriteBrowsePage(m_context.m_root, settings, error)) {
        ShowMessage(this, error, EPromptKind::kError);
        return;
    }
    if (!OpenWithDesktop(m_context.m_root + "/webroot/browse.html")) {
        ShowMessage(this,
                    "Failed to launch web browser. Please install a web browser then retry.\nIf "
                    "a web browser is installed, please run it then type in this address:\n" +
                        HttpAddress(settings.GeneralTcpipAddress, settings.GeneralTcpipPort) +
                        "or " + HttpAddress(settings.FQDN, settings.GeneralTcpipPort),
                    EPromptKind::kError);
    }
}

void CServerView::OnSettings() {
    CServerSettings& settings = m_context.m_settings;
    const std::string address = settings.GeneralTcpipAddress;
    {
        CSettingsSht sheet(window(), m_context);
        if (!m_runSheet(sheet)) {
            return;
        }
    }
    const bool moved = settings.GeneralTcpipAddress != address;
    if (moved) {
        UpdateDomainName();
    }
    OnRefresh();
    if (moved) {
        CheckHostUnderscore();
    }
    if (m_afterSettings) {
        m_afterSettings();
    }
}

void CServerView::OnViewLogFiles() {
    const std::string logs = m_context.m_root + "/webroot/log";
    std::error_code error;
    CFileChoice choice;
    choice.m_title = "Open log file";
    choice.m_folder = std::filesystem::is_directory(logs, error) ? logs : m_context.m_root;
    choice.m_patterns = {"*.*", "*.txt", "*.log"};
    const std::optional<std::string> path = ChooseOpenFile(this, choice);
    if (!path) {
        return;
    }
    if (path->empty()) {
        ShowMessage(this, "No log file is selected.");
        return;
    }
    if (!OpenWithDesktop(*path)) {
        ShowMessage(this, FormatMessage("Failed to launch [%s]:\n%s", {kOpener, OpenerFailure()}),
                    EPromptKind::kError);
    }
}

void CServerView::OnRunNow() {
    QTreeWidgetItem* item = m_list->currentItem();
    const int index = item != nullptr ? m_list->indexOfTopLevelItem(item) : -1;
    CServerRow row;
    if (item != nullptr) {
        row.m_itemData = static_cast<long>(item->data(0, Qt::UserRole).toLongLong());
        for (int column = 0; column < 4; ++column) {
            row.m_columns[column] = item->text(column).toStdString();
        }
    }
    const std::string refusal = RunNowRefusal(index, item != nullptr ? &row : nullptr);
    if (!refusal.empty()) {
        ShowMessage(this, refusal);
        m_list->setFocus();
        return;
    }
    const CServerSettings& settings = m_context.m_settings;
    std::string error;
    CConsoleClient client(settings.GeneralTcpipAddress,
                          std::atoi(settings.GeneralTcpipPort.c_str()));
    if (!client.RunNow(row.m_itemData, error)) {
        ShowMessage(this, error, EPromptKind::kError);
        return;
    }
    ShowMessage(this, RunNowNotice(row));
}

void CServerView::OnCurrentRequests() {
    const CServerSettings& settings = m_context.m_settings;
    CCurrentRequestsDlg dialog(this, settings.GeneralTcpipAddress,
                               std::atoi(settings.GeneralTcpipPort.c_str()));
    dialog.exec();
}

void CServerView::OnCreateDataSource() {
    CDataSourceDlg dialog(this, m_context.m_root, std::string(), std::string(),
                          "You are creating an additional data source to be used in your own "
                          "code.");
    m_runDataSource(dialog);
}
