// The main window over a stopped and a running server: its rows, the commands' enabling, the
// refusals that need no server, and what it remembers between runs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include <gtest/gtest.h>

#include "console/ConsoleClient.h"
#include "console/window/AboutDlg.h"
#include "console/window/MainFrame.h"
#include "console/window/ServerView.h"
#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/foundation/UniqueFd.h"

namespace {

using V = CServerView;

std::vector<CServerRow> ListedRows(const QTreeWidget& list) {
    std::vector<CServerRow> rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list.topLevelItem(i);
        CServerRow row;
        row.m_itemData = static_cast<long>(item->data(0, Qt::UserRole).toLongLong());
        for (int column = 0; column < 4; ++column) {
            row.m_columns[column] = item->text(column).toStdString();
        }
        rows.push_back(row);
    }
    return rows;
}

void ExpectSameRows(const std::vector<CServerRow>& listed, const std::vector<CServerRow>& wanted) {
    ASSERT_EQ(listed.size(), wanted.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].m_itemData, wanted[i].m_itemData) << i;
        for (int column = 0; column < 4; ++column) {
            EXPECT_EQ(listed[i].m_columns[column], wanted[i].m_columns[column]) << i;
        }
    }
}

void ExpectEnabling(const CServerView& view, bool running) {
    EXPECT_EQ(view.Action(V::kStart)->isEnabled(), !running);
    for (V::ECommand command : {V::kStop, V::kBrowse, V::kRunNow, V::kCurrentRequests}) {
        EXPECT_EQ(view.Action(command)->isEnabled(), running) << command;
    }
    for (V::ECommand command : {V::kSettings, V::kViewLogFiles, V::kRefresh}) {
        EXPECT_TRUE(view.Action(command)->isEnabled()) << command;
    }
}

void Select(QTreeWidget& list, int row) {
    list.setCurrentItem(list.topLevelItem(row));
}

}  // namespace

TEST(MainWindow, StoppedServerShowsTheSettingsRows) {
    CWindowFixture fixture;
    CPromptRecorder prompts;
    CMainFrame frame(fixture.Context(), fixture.Profile());
    CServerView& view = *frame.View();
    view.OnInitialUpdate();
    EXPECT_EQ(frame.windowTitle(), "Velmorin Server Console");
    EXPECT_EQ(frame.ServicePane()->text(), "Normal App");
    EXPECT_FALSE(view.IsRunning());
    ExpectSameRows(ListedRows(*view.List()),
                   ParseServerRows(StoppedServerText(fixture.Settings())));
    EXPECT_EQ(view.List()->topLevelItem(1)->text(3), "Disabled");
    EXPECT_EQ(view.List()->currentItem(), view.List()->topLevelItem(0));
    ExpectEnabling(view, false);
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
}

TEST(MainWindow, RunNowRefusesTheWebServerRowsWithoutConnecting) {
    // The settings point at a socket of the test's that would see any connection.
    CUniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.Get(), 4), 0);
    ASSERT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    CWindowFixture fixture({"GeneralTcpipPort=" + std::to_string(ntohs(address.sin_port))});
    CMainFrame frame(fixture.Context(), fixture.Profile());
    CServerView& view = *frame.View();
    view.OnInitialUpdate();
    for (int row : {0, 1}) {
        CPromptRecorder prompts;
        Select(*view.List(), row);
        view.OnRunNow();
        EXPECT_EQ(prompts.Texts(),
                  std::vector<std::string>{"Please select a task other than the web server."})
            << row;
    }
    EXPECT_LT(::accept(listener.Get(), nullptr, nullptr), 0);
}

TEST(MainWindow, SavedColumnWidthsAndPlace) {
    struct Case {
        const char* label;
        ColumnWidths saved;
        bool kept;
    };
    const Case cases[] = {
        {"usable widths", {30, 200, 300, 120}, true},
        {"at the bounds", {2, 4, 900, 4}, true},
        {"one above 900 resets all four", {30, 200, 901, 120}, false},
        {"first below 2", {1, 200, 300, 120}, false},
        {"another below 4", {30, 3, 300, 120}, false},
        {"nothing saved", {-1, -1, -1, -1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CWindowFixture fixture;
        fixture.Profile().WriteColumnWidths(c.saved);
        ColumnWidths shown{};
        {
            CMainFrame frame(fixture.Context(), fixture.Profile());
            frame.View()->OnInitialUpdate();
            for (size_t i = 0; i < shown.size(); ++i) {
                shown[i] = frame.View()->List()->columnWidth(static_cast<int>(i));
            }
            const ColumnWidths samples =
                SampleColumnWidths(QFontMetrics(frame.View()->List()->font()));
            EXPECT_EQ(shown, c.kept ? c.saved : samples);
        }
        // The view writes its widths back when it goes.
        EXPECT_EQ(fixture.Profile().ReadColumnWidths(), shown);
    }

    const QRect desktop(0, 0, 1024, 768);
    const struct {
        CWindowPlace place;
        bool usable;
    } places[] = {
        {{-10, 20, 400, 300}, false}, {{-9, -9, 400, 300}, true},    {{20, 20, 100, 300}, false},
        {{20, 20, 101, 81}, true},    {{20, 20, 400, 80}, false},    {{1023, 20, 400, 300}, false},
        {{20, 767, 400, 300}, false}, {{-10, -10, -10, -10}, false},
    };
    for (const auto& p : places) {
        EXPECT_EQ(WindowPlaceUsable(p.place, desktop), p.usable)
            << p.place.m_x << "," << p.place.m_y << " " << p.place.m_w << "x" << p.place.m_h;
    }
}

TEST(MainWindow, AWindowPlacedAtMinusTenKeepsTheDefaultPlace) {
    CWindowFixture fixture;
    QRect defaultPlace;
    {
        CMainFrame frame(fixture.Context(), CViewProfile(fixture.Root().Path("none.conf")));
        defaultPlace = frame.geometry();
    }
    fixture.Profile().WriteWindowPlace({-10, 50, 500, 400});
    CMainFrame frame(fixture.Context(), fixture.Profile());
    EXPECT_EQ(frame.geometry(), defaultPlace);
    fixture.Profile().WriteWindowPlace({40, 50, 500, 400});
    CMainFrame placed(fixture.Context(), fixture.Profile());
    EXPECT_EQ(placed.geometry(), QRect(40, 50, 500, 400));
}

TEST(MainWindow, RunningServerShowsItsOwnRows) {
    CWindowFixture fixture;
    fixture.StartServer();
    CPromptRecorder prompts;
    CMainFrame frame(fixture.Context(), fixture.Profile());
    CServerView& view = *frame.View();
    view.OnInitialUpdate();
    ASSERT_TRUE(view.IsRunning());
    std::string text;
    std::string error;
    ASSERT_TRUE(CConsoleClient("127.0.0.1", fixture.Root().Port()).GetTaskList(text, error));
    const std::vector<CServerRow> served = ParseServerRows(text);
    const std::vector<CServerRow> listed = ListedRows(*view.List());
    ASSERT_EQ(listed.size(), served.size());
    ASSERT_GE(listed.size(), 3u);
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].m_itemData, served[i].m_itemData) << i;
        EXPECT_EQ(listed[i].m_columns[1], served[i].m_columns[1]) << i;
        EXPECT_EQ(listed[i].m_columns[2], served[i].m_columns[2]) << i;
    }
    // The server's own state texts, not the settings' "Stopped".
    EXPECT_NE(listed[0].m_columns[3], "Stopped");
    ExpectEnabling(view, true);

    // Stop asks first; the answer Yes stops it and the rows are the settings' again.
    prompts.QueueAnswer(true);
    view.OnStop();
    EXPECT_EQ(prompts.Texts().front(), "Are you sure you want to stop Velmorin Server ?");
    EXPECT_FALSE(view.IsRunning());
    EXPECT_FALSE(fixture.Root().ServerRunning());
    ExpectEnabling(view, false);
    ExpectSameRows(ListedRows(*view.List()),
                   ParseServerRows(StoppedServerText(fixture.Settings())));
}

TEST(MainWindow, TheAboutBoxAndTheServicePane) {
    CAboutDlg about(nullptr);
    EXPECT_EQ(about.windowTitle(), "About Velmorin Server Console");
    std::vector<QString> labels;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        labels.push_back(label->text());
    }
    EXPECT_NE(std::find(labels.begin(), labels.end(), "Velmorin Server Console 2"), labels.end());
    const QList<QPushButton*> buttons = about.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons.front()->text(), "Close");
    buttons.front()->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);

    CWindowFixture fixture;
    fixture.Control().SetServiceInstalled(true);
    CMainFrame frame(fixture.Context(), fixture.Profile());
    EXPECT_EQ(frame.ServicePane()->text(), "NT Service");
}
