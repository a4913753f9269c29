// The profile: defaults, the rules applied when it is read, and what the window writes back.
#include <sys/stat.h>

#include <QSplitter>

#include "studio/window/FileTreeCtrl.h"
#include "studio/window/OutputBar.h"
#include "studio/window/VarListCtrl.h"
#include "studio/window/WorkspaceBar.h"
#include "studio/window/tests/WindowFixture.h"

TEST_F(WindowTest, FreshProfileSplitsTheClientAreaInThirds) {
    CMainFrame& frame = Frame();
    const QSize client = frame.centralWidget()->size();
    EXPECT_NEAR(frame.Workspace()->width(), client.width() / 3, 5);
    EXPECT_NEAR(frame.Output()->height(), client.height() / 3, 5);
    EXPECT_EQ(frame.Output()->Variables()->columnWidth(0), 100);
    EXPECT_EQ(frame.Output()->Variables()->columnWidth(1), 400);
    EXPECT_EQ(frame.findChild<QSplitter*>()->handleWidth(), 4);
    EXPECT_TRUE(m_boxes.isEmpty()) << m_boxes.join(QStringLiteral(" | ")).toStdString();
}

TEST_F(WindowTest, FreshProfileWrittenAtExit) {
    Frame();
    CloseFrame();
    const std::string ini = ReadFile(IniPath());
    for (const char* line : {"DebuggerIpPort=8085", "TextColor=16", "BkColor=16", "TabStops=4",
                             "DebuggerIsSSL=0", "VAR_NAME_W=100", "VAR_VALUE_W=400"}) {
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
    }
    EXPECT_EQ(ini.find("[Font]"), std::string::npos) << ini;
    EXPECT_EQ(CStudioProfile::OpenSettings()->value(QStringLiteral("Settings/FileFilter")),
              QStringLiteral(".zrp; .zrs; .html; .txt"));
}

TEST_F(WindowTest, StoredValuesOutsideTheirRulesReadAsDefaults) {
    const std::string missing = m_root.File("gone");
    WriteIni("[Settings]\nDebuggerIsSSL=2\nRootPath7=" + missing +
             "\n[Window%20Placement]\nMAINWIN_X=-10\nMAINWIN_Y=5\nMAINWIN_W=700\nMAINWIN_H=600\n"
             "VAR_NAME_W=5\nVAR_VALUE_W=1001\n");
    CStudioProfile profile;
    profile.Load(*CStudioProfile::OpenSettings());
    EXPECT_FALSE(profile.m_ssl);
    EXPECT_FALSE(profile.PlacementApplies(QRect(0, 0, 1920, 1080)));
    CMainFrame& frame = Frame(1000, 800);
    EXPECT_EQ(frame.size(), QSize(1000, 800));
    EXPECT_EQ(frame.Output()->Variables()->columnWidth(0), 100);
    EXPECT_EQ(frame.Output()->Variables()->columnWidth(1), 400);
    EXPECT_EQ(frame.RootPath(), Root());
    ASSERT_EQ(frame.Workspace()->Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(frame.Workspace()->Tree()->topLevelItem(0)->text(0), Root());
}

TEST_F(WindowTest, PlacementRules) {
    struct Case {
        int x, y, w, h;
        bool applies;
    };
    const QRect desktop(0, 0, 1920, 1080);
    for (const Case& c : {Case{10, 20, 800, 600, true}, Case{-9, -9, 101, 81, true},
                          Case{-10, 20, 800, 600, false}, Case{10, -10, 800, 600, false},
                          Case{10, 20, 100, 600, false}, Case{10, 20, 800, 80, false},
                          Case{1920, 20, 800, 600, false}, Case{10, 1080, 800, 600, false}}) {
        CStudioProfile profile;
        profile.m_mainX = c.x;
        profile.m_mainY = c.y;
        profile.m_mainW = c.w;
        profile.m_mainH = c.h;
        EXPECT_EQ(profile.PlacementApplies(desktop), c.applies)
            << c.x << "," << c.y << " " << c.w << "x" << c.h;
    }
}

TEST_F(WindowTest, PaneBounds) {
    EXPECT_EQ(CStudioProfile::BoundLeftPane(-10, 900), 300);
    EXPECT_EQ(CStudioProfile::BoundLeftPane(9, 900), 300);
    EXPECT_EQ(CStudioProfile::BoundLeftPane(10, 900), 10);
    EXPECT_EQ(CStudioProfile::BoundLeftPane(891, 900), 300);
    EXPECT_EQ(CStudioProfile::BoundBottomPane(-1, 600), 200);
    EXPECT_EQ(CStudioProfile::BoundBottomPane(0, 600), 0);
    EXPECT_EQ(CStudioProfile::BoundBottomPane(541, 600), 200);
    EXPECT_EQ(CStudioProfile::BoundColumn(19, 100), 100);
    EXPECT_EQ(CStudioProfile::BoundColumn(20, 100), 20);
    EXPECT_EQ(CStudioProfile::BoundColumn(1001, 400), 400);
}

TEST_F(WindowTest, StoredPaneSizesAndFontComeBack) {
    WriteIni("[Font]\nHeight=-15\nWeight=700\nItalic=1\nFaceName=" + std::string(40, 'F') +
             "\nCharSet=77\n[Window%20Placement]\nLEFTPANE_W=250\nBOTTOMPANE_H=200\n");
    CMainFrame& frame = Frame();
    EXPECT_NEAR(frame.Workspace()->width(), 250, 1);
    EXPECT_NEAR(frame.Output()->height(), 200, 1);
    EXPECT_EQ(frame.Profile().m_font.m_faceName.size(), 31);
    CloseFrame();
    const std::string ini = ReadFile(IniPath());
    for (const char* line : {"Height=-15", "Weight=700", "Italic=1", "CharSet=77", "LEFTPANE_W=250",
                             "BOTTOMPANE_H=200"}) {
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
    }
    EXPECT_NE(ini.find("FaceName=" + std::string(31, 'F') + "\n"), std::string::npos) << ini;
}
