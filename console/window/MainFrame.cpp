#include "console/window/MainFrame.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include "console/ServerControl.h"
#include "console/window/AboutDlg.h"
#include "console/window/ServerView.h"
#include "engine/settings/ServerSettings.h"

CMainFrame::CMainFrame(CConsoleContext& context, CViewProfile profile)
    : m_context(context),
      m_profile(std::move(profile)),
      m_view(new CServerView(this, context, m_profile)),
      m_servicePane(new QLabel(this)) {
    setWindowTitle(kTitle);
    setCentralWidget(m_view);
    CreateMenus();
    statusBar()->addPermanentWidget(m_servicePane);
    statusBar()->showMessage("Ready");
    UpdateServicePane();
    m_view->SetAfterSettings([this] { UpdateServicePane(); });
    resize(720, 360);
    PlaceWindow();
}

void CMainFrame::Start() {
    m_view->OnInitialUpdate();
    if (m_context.m_settings.GeneralOrganizationName.empty()) {
        m_view->OnSettings();
    }
}

void CMainFrame::CreateMenus() {
    using V = CServerView;
    QMenu* server = menuBar()->addMenu("&Server");
    for (V::ECommand command : {V::kStart, V::kStop, V::kBrowse}) {
        server->addAction(m_view->Action(command));
    }
    server->addSeparator();
    server->addAction(m_view->Action(V::kSettings));
    server->addAction(m_view->Action(V::kRefresh));
    server->addSeparator();
    server->addAction("E&xit", this, &QWidget::close);
    QMenu* tools = menuBar()->addMenu("&Tools");
    for (V::ECommand command :
         {V::kViewLogFiles, V::kRunNow, V::kCurrentRequests, V::kCreateDataSource}) {
        tools->addAction(m_view->Action(command));
    }
    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("&About Brackmoor...", this, [this] { OnAbout(); });

    QToolBar* toolbar = addToolBar("Standard");
    toolbar->setMovable(false);
    for (V::ECommand command : {V::kStart, V::kStop, V::kRefresh, V::kSettings, V::kBrowse}) {
        toolbar->addAction(m_view->Action(command));
    }
}

void CMainFrame::UpdateServicePane() {
    m_servicePane->setText(m_context.m_control.IsServiceInstalled() ? "NT Service" : "Normal App");
}

void CMainFrame::PlaceWindow() {
    const CWindowPlace place = m_profile.ReadWindowPlace();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr && WindowPlaceUsable(place, screen->availableGeometry())) {
        setGeometry(place.m_x, place.m_y, place.m_w, place.m_h);
    }
}

void CMainFrame::Raise() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void CMainFrame::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!isMinimized() && !isMaximized()) {
        const QRect rect = geometry();
        m_profile.WriteWindowPlace({rect.x(), rect.y(), rect.width(), rect.height()});
    }
    QMainWindow::closeEvent(event);
}
