// The console's main window: menus, toolbar and status bar around the server view, placed where
// it was last left.
#pragma once

#include <QMainWindow>

#include "console/window/ConsoleContext.h"
#include "console/window/ViewProfile.h"

class CServerView;
class QLabel;

class CMainFrame : public QMainWindow {
public:
    static constexpr const char* kTitle = "Velmorin Server Console";

    CMainFrame(CConsoleContext& context, CViewProfile profile);

    CServerView* View() const { return m_view; }
    // The first update of the view; Settings over the window on a first start (no
    // organisation name yet).
    void Start();
    // "NT Service" or "Normal App".
    QLabel* ServicePane() const { return m_servicePane; }
    void UpdateServicePane();
    // Restores a minimised window and brings it to the front.
    void Raise();
    void OnAbout();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void PlaceWindow();

    CConsoleContext& m_context;
    CViewProfile m_profile;
    CServerView* m_view;
    QLabel* m_servicePane;
};
