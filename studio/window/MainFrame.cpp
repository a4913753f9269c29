#include "studio/window/MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/script/DesktopOpener.h"
#include "studio/DebugController.h"
#include "studio/window/AboutDlg.h"
#include "studio/window/BreakpointGutter.h"
#include "studio/window/ChildFrame.h"
#include "studio/window/ColorListBox.h"
#include "studio/window/DebugCommands.h"
#include "studio/window/DocumentCommands.h"
#include "studio/window/FileTreeCtrl.h"
#include "studio/window/FindInFilesDlg.h"
#include "studio/window/FindReplaceDlg.h"
#include "studio/window/FindResultsList.h"
#include "studio/window/GotoOffsetDlg.h"
#include "studio/window/LogPaneSink.h"
#include "studio/window/MessageSeam.h"
#include "studio/window/OutputBar.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/SettingsCommands.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/StudioFrontEnd.h"
#include "studio/window/VarListCtrl.h"
#include "studio/window/WorkspaceBar.h"

namespace {

constexpr int kBarWidth = 4;
const char* const kOpenFailed =
    "If you are using Windows 9x/me, note that this program cannot load files larger than 64K.";

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

}  // namespace

CMainFrame::CMainFrame(const CStudioProfile& profile, const QString& programRoot,
                       CServerSettings& settings, QWidget* parent)
    : QMainWindow(parent),
      m_profile(profile),
      m_programRoot(programRoot),
      m_commands(new CStudioCommands(this)),
      m_findReplace(new CFindReplaceDlg(this)),
      m_documents(new CDocumentCommands(*this)),
      m_debugging(new CDebugCommands(*this, settings)),
      m_settingsCommands(new CSettingsCommands(*this, m_profile)) {
    setWindowTitle(QStringLiteral("Velmorin Studio"));
    setAcceptDrops(true);
    theDebugger.SetPort(m_profile.m_port.toStdString());
    theDebugger.SetSsl(m_profile.m_ssl);
    m_rootPath = IsFolder(m_profile.m_rootPath) ? m_profile.m_rootPath : m_programRoot;
    m_findFileTypes = m_profile.m_fileFilter;

    addActions(m_commands->Actions());
    connect(m_commands, &CStudioCommands::Triggered, this, &CMainFrame::Execute);
    connect(m_commands, &CStudioCommands::RecentFileChosen, this,
            [this](const QString& path) { OpenDocument(path); });
    m_commands->SetRecentFiles(m_profile.m_recentFiles);
    CreateToolBar();
    m_message = new QLabel(QStringLiteral("Ready"), this);
    m_lineColumn = new QLabel(QStringLiteral("line 888 col 888"), this);
    m_lineColumn->setMinimumWidth(m_lineColumn->sizeHint().width());
    m_lineColumn->clear();
    statusBar()->addWidget(m_message, 1);
    statusBar()->addPermanentWidget(m_lineColumn);
    CreatePanes();

    m_logSink = std::make_shared<CLogPaneSink>(m_output->DebugEdit());
    g_log.SetWindow(m_logSink);
    m_frontEnd = std::make_unique<CStudioFrontEnd>(this);
    theDebugger.SetFrontEnd(m_frontEnd.get());

    if (m_profile.PlacementApplies(QApplication::primaryScreen()->availableVirtualGeometry())) {
        setGeometry(m_profile.m_mainX, m_profile.m_mainY, m_profile.m_mainW, m_profile.m_mainH);
    }
    m_idleTimer = new QTimer(this);
    connect(m_idleTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommands);
    m_idleTimer->start(200);
    m_commands->ShowMenus(menuBar(), false);
    UpdateCommands();
    m_workspace->Tree()->setFocus();
}

CMainFrame::~CMainFrame() {
    Shutdown();
    // The panes go while this window is whole: their last signals may still reach it.
    delete takeCentralWidget();
}

void CMainFrame::CreateToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("Standard"));
    bar->setObjectName(QStringLiteral("toolbar128"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    QPixmap breakpoint(16, 16);
    breakpoint.fill(Qt::transparent);
    QPainter(&breakpoint).fillRect(QRect(2, 1, 12, 13), CBreakpointGutter::kBreakpointColor);
    const std::vector<std::pair<int, QIcon>> buttons = {
        {kCmdNew, style()->standardIcon(QStyle::SP_FileIcon)},
        {kCmdOpen, style()->standardIcon(QStyle::SP_DialogOpenButton)},
        {kCmdSave, style()->standardIcon(QStyle::SP_DialogSaveButton)},
        {0, QIcon()},
        {kCmdStartContinue, style()->standardIcon(QStyle::SP_MediaPlay)},
        {kCmdSingleStep, style()->standardIcon(QStyle::SP_ArrowDown)},
        {kCmdStepOut, style()->standardIcon(QStyle::SP_ArrowUp)},
        {kCmdStop, style()->standardIcon(QStyle::SP_MediaStop)},
        {kCmdToggleBreakpoint, QIcon(breakpoint)},
        {0, QIcon()},
        {kCmdBrowse, style()->standardIcon(QStyle::SP_DriveNetIcon)},
        {kCmdFindInFiles, style()->standardIcon(QStyle::SP_FileDialogContentsView)},
    };
    for (const auto& [id, icon] : buttons) {
        if (id == 0) {
            bar->addSeparator();
            continue;
        }
        QAction* action = m_commands->Action(id);
        action->setIcon(icon);
        // The tip is the menu text without its key and mnemonic.
        action->setToolTip(
            action->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')));
        bar->addAction(action);
    }
}

void CMainFrame::CreatePanes() {
    m_outer = new QSplitter(Qt::Vertical, this);
    m_inner = new QSplitter(Qt::Horizontal, m_outer);
    for (QSplitter* splitter : {m_outer, m_inner}) {
        splitter->setHandleWidth(kBarWidth);
        // A drag shows a rubber band; the panes move when the button is released.
        splitter->setOpaqueResize(false);
        splitter->setChildrenCollapsible(false);
    }
    m_workspace = new CWorkspaceBar(m_inner);
    m_mdi = new QMdiArea(m_inner);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_output = new COutputBar(m_outer);
    m_inner->setStretchFactor(1, 1);
    m_outer->setStretchFactor(0, 1);
    setCentralWidget(m_outer);

    CFileTreeCtrl* tree = m_workspace->Tree();
    tree->SetFilter(m_profile.m_fileFilter);
    tree->Fill(m_rootPath);
    connect(tree, &CFileTreeCtrl::OpenFile, this,
            [this](const QString& path) { OpenDocument(path.trimmed()); });
    ApplyOutputSettings();
    CVarListCtrl* variables = m_output->Variables();
    variables->setColumnWidth(0, CStudioProfile::BoundColumn(m_profile.m_varNameW, 100));
    variables->setColumnWidth(1, CStudioProfile::BoundColumn(m_profile.m_varValueW, 400));
    connect(variables, &CVarListCtrl::EditRequested, this, [this] { Execute(kCmdEditVariable); });
    connect(m_output->FindResults(), &CFindResultsList::OpenResult, this,
            &CMainFrame::OpenFindResult);
    connect(m_mdi, &QMdiArea::subWindowActivated, this, &CMainFrame::OnActiveChildChanged);
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_bPanesSized) {
        m_bPanesSized = true;
        ApplyPaneSizes();
    }
}

void CMainFrame::ApplyPaneSizes() {
    const QSize client = m_outer->size();
    const int left = CStudioProfile::BoundLeftPane(m_profile.m_leftPaneW, client.width());
    const int bottom = CStudioProfile::BoundBottomPane(m_profile.m_bottomPaneH, client.height());
    m_outer->setSizes({client.height() - bottom - kBarWidth, bottom});
    m_inner->setSizes({left, client.width() - left - kBarWidth});
}

QColor CMainFrame::TextColor() const {
    return CColorListBox::ColorOf(m_profile.m_textColor, true, palette());
}

QColor CMainFrame::BackgroundColor() const {
    return CColorListBox::ColorOf(m_profile.m_bkColor, false, palette());
}

void CMainFrame::ApplyOutputSettings() {
    const QFont font = m_profile.Font();
    for (COutputEdit* edit : {m_output->DebugEdit(), m_output->TrafficEdit()}) {
        edit->setFont(font);
        edit->SetColors(TextColor(), BackgroundColor());
        edit->SetTabStops(m_profile.m_tabStops);
    }
    CFindResultsList* find = m_output->FindResults();
    find->setFont(font);
    QPalette colors = find->palette();
    colors.setColor(QPalette::Text, TextColor());
    colors.setColor(QPalette::Base, BackgroundColor());
    find->setPalette(colors);
}

void CMainFrame::ApplyLookEverywhere() {
    for (CChildFrame* child : Children()) {
        ApplyViewSettings(child->View());
    }
    ApplyOutputSettings();
}

void CMainFrame::ApplyViewSettings(CSspView* view) {
    view->setFont(m_profile.Font());
    view->SetTabStops(m_profile.m_tabStops);
    view->SetColors(TextColor(), BackgroundColor());
}

void CMainFrame::Shutdown() {
    if (m_bShutDown) {
        return;
    }
    m_bShutDown = true;
    m_idleTimer->stop();
    if (!theDebugger.IsIdle()) {
        theDebugger.Stop(false);
    }
    theDebugger.SetFrontEnd(nullptr);
    m_output->FindResults()->Stop();
    m_output->FindResults()->Join();
    m_logSink->Detach();
    g_log.SetFolder((m_programRoot + QStringLiteral("/webroot")).toStdString());

    m_profile.m_port = QString::fromStdString(theDebugger.GetPort());
    m_profile.m_ssl = theDebugger.IsSsl();
    m_profile.m_placementSaved = !isMinimized() && !isMaximized();
    if (m_profile.m_placementSaved) {
        const QRect placed = geometry();
        m_profile.m_mainX = placed.x();
        m_profile.m_mainY = placed.y();
        m_profile.m_mainW = placed.width();
        m_profile.m_mainH = placed.height();
        if (m_bPanesSized) {
            m_profile.m_leftPaneW = m_workspace->width();
            m_profile.m_bottomPaneH = m_output->height();
        }
        m_profile.m_varNameW = m_output->Variables()->columnWidth(0);
        m_profile.m_varValueW = m_output->Variables()->columnWidth(1);
    }
    const std::unique_ptr<QSettings> stored = CStudioProfile::OpenSettings();
    m_profile.m_recentFiles = m_commands->RecentFiles();
    m_profile.Save(*stored);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            OpenDocument(url.toLocalFile());
        }
    }
    event->acceptProposedAction();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!m_documents->SaveAllModified()) {
        event->ignore();
        return;
    }
    Shutdown();
    event->accept();
}

QList<CChildFrame*> CMainFrame::Children() const {
    QList<CChildFrame*> children;
    for (QMdiSubWindow* window : m_mdi->subWindowList()) {
        if (auto* child = qobject_cast<CChildFrame*>(window->widget())) {
            children.append(child);
        }
    }
    return children;
}

CChildFrame* CMainFrame::ActiveChild() const {
    QMdiSubWindow* window = m_mdi->activeSubWindow();
    if (!window) {
        const QList<QMdiSubWindow*> windows =
            m_mdi->subWindowList(QMdiArea::ActivationHistoryOrder);
        window = windows.isEmpty() ? nullptr : windows.back();
    }
    return window ? qobject_cast<CChildFrame*>(window->widget()) : nullptr;
}

CSspView* CMainFrame::ActiveView() const {
    CChildFrame* child = ActiveChild();
    return child ? child->View() : nullptr;
}

QMdiSubWindow* CMainFrame::AddChild(CChildFrame* child) {
    ApplyViewSettings(child->View());
    QMdiSubWindow* window = m_mdi->addSubWindow(child);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(child, &CChildFrame::TitleChanged, this, [this] { OnActiveChildChanged(); });
    connect(child->View(), &QPlainTextEdit::cursorPositionChanged, this, [this, child] {
        if (!m_bShutDown && ActiveChild() == child) {
            m_lineColumn->setText(child->View()->LineColumnText());
        }
    });
    connect(child->View(), &CSspView::ContextMenuAsked, this, [this](const QPoint& at) {
        UpdateCommands();
        QMenu menu;
        menu.addAction(QStringLiteral("Quick &Watch..."), this, [this] { Execute(kCmdQuickWatch); })
            ->setEnabled(m_commands->Action(kCmdQuickWatch)->isEnabled());
        menu.addAction(QStringLiteral("Add to &Variable Window"), this,
                       [this] { Execute(kCmdAddVariable); });
        menu.addAction(QStringLiteral("Insert/Remove &Breakpoint\tF9"), this,
                       [this] { Execute(kCmdToggleBreakpoint); })
            ->setEnabled(m_commands->Action(kCmdToggleBreakpoint)->isEnabled());
        menu.addSeparator();
        menu.addAction(m_commands->Action(kCmdCut));
        menu.addAction(m_commands->Action(kCmdCopy));
        menu.addAction(m_commands->Action(kCmdPaste));
        menu.exec(at);
    });
    connect(window, &QObject::destroyed, this,
            [this] { QTimer::singleShot(0, this, [this] { OnActiveChildChanged(); }); });
    // Not maximised: a maximised child would write its own title into the frame's.
    const QSize area = m_mdi->viewport()->size();
    window->resize(std::max(300, area.width() * 3 / 4), std::max(200, area.height() * 3 / 4));
    window->show();
    m_mdi->setActiveSubWindow(window);
    child->View()->setFocus();
    OnActiveChildChanged();
    return window;
}

CChildFrame* CMainFrame::NewDocument() {
    auto* doc = new CSspDoc;
    doc->SetUntitled(QStringLiteral("zrp%1").arg(++m_untitled));
    auto* child = new CChildFrame(doc);
    AddChild(child);
    return child;
}

CChildFrame* CMainFrame::OpenDocument(const QString& path, bool report) {
    const QString wanted = QFileInfo(path).absoluteFilePath();
    for (QMdiSubWindow* window : m_mdi->subWindowList()) {
        auto* child = qobject_cast<CChildFrame*>(window->widget());
        if (child && child->Doc()->Path() == wanted) {
            m_mdi->setActiveSubWindow(window);
            return child;
        }
    }
    auto doc = std::make_unique<CSspDoc>();
    QString error;
    if (!doc->Load(wanted, error)) {
        g_log.LogText(
            (wanted + QStringLiteral(": ") + error + QStringLiteral("\r\n")).toStdString());
        if (report) {
            CMessageSeam::Show(this, QString::fromLatin1(kOpenFailed));
        }
        return nullptr;
    }
    auto* child = new CChildFrame(doc.release());
    AddChild(child);
    AddRecentFile(wanted);
    return child;
}

void CMainFrame::AddRecentFile(const QString& path) {
    QStringList files = m_commands->RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    m_commands->SetRecentFiles(files);
}

void CMainFrame::OnActiveChildChanged() {
    if (m_bShutDown) {
        return;
    }
    CChildFrame* child = ActiveChild();
    setWindowTitle(child ? QStringLiteral("Velmorin Studio - ") + child->Title()
                         : QStringLiteral("Velmorin Studio"));
    m_lineColumn->setText(child ? child->View()->LineColumnText() : QString());
    const bool document = !Children().isEmpty();
    if (document != m_bLastDocument) {
        m_bLastDocument = document;
        m_commands->ShowMenus(menuBar(), document);
    }
    UpdateCommands();
}

void CMainFrame::RedrawMargins() {
    for (CChildFrame* child : Children()) {
        child->RedrawMargin();
    }
}

void CMainFrame::UpdateCommands() {
    // A run that started, paused or ended since the last look moves the arrows.
    const int state = theDebugger.IsPaused() ? 3 : theDebugger.IsRunning() ? 2 : 1;
    if (state != m_lastState) {
        m_lastState = state;
        RedrawMargins();
    }
    CSspView* view = ActiveView();
    const bool document = view != nullptr;
    const QString extension = document ? view->Doc()->Extension() : QString();
    const bool findDone = m_output->FindResults()->IsDone();
    auto enable = [this](int id, bool on) { m_commands->Action(id)->setEnabled(on); };
    enable(kCmdFindInFiles, findDone);
    enable(kCmdStopFind, !findDone);
    enable(kCmdStartContinue, !theDebugger.IsRunning());
    enable(kCmdStop, !theDebugger.IsIdle());
    enable(kCmdBreak, theDebugger.CanBreak());
    enable(kCmdQuickWatch, theDebugger.IsPaused());
    enable(kCmdBrowse, !theDebugger.IsIdle());
    enable(kCmdSingleStep,
           document && (extension == QLatin1String("zrs") ? !theDebugger.IsRunning()
                                                          : theDebugger.IsPaused()));
    enable(kCmdStepOut, theDebugger.CanStepOut());
    enable(kCmdToggleBreakpoint,
           extension == QLatin1String("zrp") || extension == QLatin1String("zrs"));
    for (int id :
         {kCmdClose, kCmdSave, kCmdSaveAs, kCmdSaveAll, kCmdPrint, kCmdPrintPreview, kCmdUndo,
          kCmdCut, kCmdCopy, kCmdPaste, kCmdFind, kCmdFindAgain, kCmdReplace, kCmdGotoOffset,
          kCmdUpperCase, kCmdLowerCase, kCmdCascade, kCmdTileHorizontally, kCmdTileVertically}) {
        enable(id, document);
    }
}

void CMainFrame::Execute(int id) {
    UpdateCommands();
    QAction* action = m_commands->Action(id);
    if (action && !action->isEnabled()) {
        return;
    }
    if (id >= 57600 && id <= 57615) {
        m_documents->Run(id);
    } else if ((id >= 57634 && id <= 57643) || id == kCmdGotoOffset || id == kCmdFindInFiles ||
               id == kCmdStopFind || id == kCmdUpperCase || id == kCmdLowerCase) {
        EditCommand(id);
    } else if (id == kCmdFolderOptions || id == kCmdDebuggerOptions || id == kCmdSetFont ||
               id == kCmdSetTabStops || id == kCmdSetColor || id == kCmdNextPane ||
               id == kCmdPreviousPane || id == kCmdNextWindowTab) {
        ViewCommand(id);
    } else if (id >= 57650 && id <= 57652) {
        WindowCommand(id);
    } else if (id == kCmdAbout) {
        CAboutDlg(this).exec();
    } else if (id == kCmdHelpTopics) {
        OpenWithDesktop((m_programRoot + QStringLiteral("/help/wrenfold.html")).toStdString());
    } else if (id == kCmdExit) {
        close();
    } else {
        m_debugging->Run(id);
    }
    UpdateCommands();
}

void CMainFrame::EditCommand(int id) {
    CSspView* view = ActiveView();
    switch (id) {
        case kCmdFindInFiles:
            FindInFiles();
            return;
        case kCmdStopFind:
            m_output->FindResults()->Stop();
            return;
        default:
            break;
    }
    if (!view) {
        return;
    }
    switch (id) {
        case kCmdUndo:
            view->undo();
            break;
        case kCmdCut:
            view->cut();
            break;
        case kCmdCopy:
            view->copy();
            break;
        case kCmdPaste:
            view->paste();
            break;
        case kCmdUpperCase:
        case kCmdLowerCase:
            view->ChangeCase(id == kCmdUpperCase);
            break;
        case kCmdGotoOffset: {
            CGotoOffsetDlg dialog(this);
            if (dialog.exec() == QDialog::Accepted) {
                view->GoToOffset(dialog.Offset());
            }
            break;
        }
        default:
            m_findReplace->Run(id, view);
            break;
    }
}

void CMainFrame::ViewCommand(int id) {
    if (id == kCmdNextPane || id == kCmdPreviousPane) {
        FocusPane(id == kCmdNextPane);
    } else if (id == kCmdNextWindowTab) {
        NextWindowOrTab();
    } else {
        m_settingsCommands->Run(id);
    }
}

void CMainFrame::FocusPane(bool forward) {
    // The cycle: file tree, active editor (skipped without one), output pane.
    QWidget* focus = QApplication::focusWidget();
    const bool inTree = focus && (focus == m_workspace->Tree() || m_workspace->isAncestorOf(focus));
    const bool inOutput = focus && (focus == m_output || m_output->isAncestorOf(focus));
    CSspView* view = ActiveView();
    enum { kTree, kEditor, kOutput } next = kOutput;
    if (inTree) {
        next = forward && view ? kEditor : kOutput;
    } else if (inOutput) {
        next = forward || !view ? kTree : kEditor;
    } else {
        next = forward ? kOutput : kTree;
    }
    if (next == kTree) {
        m_workspace->Tree()->setFocus();
    } else if (next == kEditor) {
        view->setFocus();
    } else {
        m_output->ShowTab(m_output->currentIndex());
    }
}

void CMainFrame::NextWindowOrTab() {
    QWidget* focus = QApplication::focusWidget();
    if (focus && (focus == m_output || m_output->isAncestorOf(focus))) {
        m_output->NextTab();
    } else if (focus && (focus == m_workspace->Tree() || m_workspace->isAncestorOf(focus))) {
        return;
    } else {
        m_mdi->activateNextSubWindow();
        if (CSspView* view = ActiveView()) {
            view->setFocus();
        }
    }
}

void CMainFrame::WindowCommand(int id) {
    if (id == kCmdCascade) {
        m_mdi->cascadeSubWindows();
        return;
    }
    // Stacked (each the full width) or side by side (each the full height).
    const QList<QMdiSubWindow*> windows = m_mdi->subWindowList();
    if (windows.isEmpty()) {
        return;
    }
    const QSize area = m_mdi->viewport()->size();
    const int n = static_cast<int>(windows.size());
    for (int i = 0; i < n; ++i) {
        windows[i]->showNormal();
        if (id == kCmdTileHorizontally) {
            const int h = area.height() / n;
            windows[i]->setGeometry(0, i * h, area.width(), h);
        } else {
            const int w = area.width() / n;
            windows[i]->setGeometry(i * w, 0, w, area.height());
        }
    }
}

void CMainFrame::FindInFiles() {
    CFindInFilesDlg dialog(m_findText, m_findFileTypes, m_findFolder, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    m_findText = dialog.Text();
    m_findFileTypes = dialog.FileTypes();
    m_findFolder = dialog.Folder().trimmed();
    m_output->FindResults()->Start(m_findText, m_findFileTypes,
                                   m_findFolder.isEmpty() ? m_rootPath : m_findFolder);
    m_output->ShowTab(COutputBar::kFindTab);
}

void CMainFrame::OpenFindResult(const QString& path, int line, const QString& text) {
    if (CChildFrame* child = OpenDocument(path)) {
        child->View()->SelectInLine(line - 1, text);
    }
}

void CMainFrame::OnDebugBreak(int line, const QString& path) {
    if (!isVisible()) {
        show();
    }
    raise();
    activateWindow();
    if (!path.isEmpty()) {
        if (CChildFrame* child = OpenDocument(path)) {
            child->View()->GoToLine(line);
            if (child->Doc()->IsModified()) {
                g_log.Log("%s", g_msg.m_debugFileModified);
                m_output->ShowTab(COutputBar::kDebugTab);
            }
        }
    }
    RedrawMargins();
    m_output->Variables()->RefreshAll();
    UpdateCommands();
}

void CMainFrame::OnDebugShowError(int offset, const QString& path) {
    if (!path.isEmpty()) {
        m_output->ShowTab(COutputBar::kDebugTab);
        CChildFrame* child = OpenDocument(path, false);
        if (!child) {
            CMessageSeam::Show(this, QStringLiteral("Failed to open ") + path);
        } else {
            child->View()->GoToOffset(offset);
        }
    }
    RedrawMargins();
}

void CMainFrame::OnHttpText(const std::string& text) {
    m_output->TrafficEdit()->AppendOutput(text);
}
