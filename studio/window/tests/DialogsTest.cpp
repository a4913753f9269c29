// The studio's dialogs: their checks, lists and result codes.
#include <QImage>
#include <QListWidget>

#include "studio/window/BreakpointsDlg.h"
#include "studio/window/ColorListBox.h"
#include "studio/window/QuickWatchDlg.h"
#include "studio/window/SetColorDlg.h"
#include "studio/window/SetTabStops.h"
#include "studio/window/tests/WindowFixture.h"

TEST_F(WindowTest, TabStopsFromOneToSixteen) {
    const std::vector<std::pair<QString, bool>> cases = {{"0", false}, {"17", false}, {"x", false},
                                                         {"", false},  {"1", true},   {"16", true}};
    for (const auto& [text, accepted] : cases) {
        m_boxes.clear();
        CSetTabStops dialog(4);
        dialog.Field()->setText(text);
        dialog.accept();
        EXPECT_EQ(dialog.result() == QDialog::Accepted, accepted) << text.toStdString();
        EXPECT_EQ(m_boxes.size(), accepted ? 0 : 1) << text.toStdString();
        if (accepted) {
            EXPECT_EQ(dialog.TabStops(), text.toInt());
        }
    }
}

TEST_F(WindowTest, ColorListsHoldTheSeventeenColours) {
    const QStringList names = {"Black", "Maroon",  "Green",  "Olive", "Navy",     "Purple",
                               "Teal",  "Gray",    "Silver", "Red",   "Lime",     "Yellow",
                               "Blue",  "Fuchsia", "Aqua",   "White", "Automatic"};
    CSetColorDlg dialog(16, 16);
    for (CColorListBox* list : {dialog.TextList(), dialog.BackgroundList()}) {
        ASSERT_EQ(list->count(), 17);
        for (int i = 0; i < 17; ++i) {
            EXPECT_EQ(list->item(i)->text(), names[i]);
        }
    }
    EXPECT_EQ(dialog.TextIndex(), 16);
    EXPECT_EQ(dialog.BackgroundIndex(), 16);
    const QPalette colors;
    EXPECT_EQ(CColorListBox::ColorOf(9, true, colors), QColor(255, 0, 0));
    EXPECT_EQ(CColorListBox::ColorOf(7, true, colors), QColor(128, 128, 128));
    EXPECT_EQ(CColorListBox::ColorOf(16, true, colors), colors.color(QPalette::Text));
    EXPECT_EQ(CColorListBox::ColorOf(16, false, colors), colors.color(QPalette::Base));

    // The swatch of "Red" between 5 and 45 pixels, the name from 50.
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    CColorListBox* list = dialog.TextList();
    const QRect row = list->visualItemRect(list->item(9));
    const QImage image = list->viewport()->grab().toImage();
    EXPECT_EQ(image.pixelColor(row.left() + 25, row.center().y()), QColor(255, 0, 0));
    EXPECT_NE(image.pixelColor(row.left() + 47, row.center().y()), QColor(255, 0, 0));
}

TEST_F(WindowTest, BreakpointsDialogResults) {
    {
        CBreakpointsDlg dialog(QStringLiteral("a?1\nb?2\n"));
        EXPECT_EQ(dialog.List()->count(), 2);
        dialog.GoToButton()->click();
        EXPECT_EQ(m_boxes, QStringList{"Please select an item first"});
        EXPECT_EQ(dialog.result(), 0);
        dialog.List()->setCurrentRow(1);
        dialog.GoToButton()->click();
        EXPECT_EQ(dialog.Result(), CBreakpointsDlg::kGoTo);
        EXPECT_EQ(dialog.Selected(), QStringLiteral("b?2"));
    }
    {
        CBreakpointsDlg dialog(QStringLiteral("a?1\nb?2\n"));
        dialog.CloseButton()->click();
        EXPECT_EQ(dialog.Result(), CBreakpointsDlg::kClosed);
    }
    {
        CBreakpointsDlg dialog(QStringLiteral("a?1\n\nb?2\n"));
        EXPECT_EQ(dialog.List()->count(), 1);
        dialog.ClearAllButton()->click();
        EXPECT_EQ(dialog.Result(), CBreakpointsDlg::kClearAll);
        EXPECT_EQ(dialog.List()->count(), 0);
    }
}

TEST_F(WindowTest, QuickWatchWhileNotPaused) {
    CQuickWatchDlg watch(QStringLiteral("x"), CQuickWatchDlg::kQuickWatch, QString());
    EXPECT_EQ(watch.Value(), QString::fromLatin1(CDebugController::kNotPaused));
    watch.ValueField()->setText(QStringLiteral("kept"));
    watch.Recalculate();
    EXPECT_EQ(watch.Value(), QStringLiteral("kept"));

    CQuickWatchDlg edit(QStringLiteral("n"), CQuickWatchDlg::kEditName, QStringLiteral("5"));
    EXPECT_EQ(edit.windowTitle(), QStringLiteral("Edit Variable Name"));
    EXPECT_EQ(edit.Value(), QStringLiteral("5"));
    edit.accept();
    EXPECT_EQ(edit.Value(), QStringLiteral("5"));
}
