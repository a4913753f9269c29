// Documents keep their bytes: what is read unedited is written back unchanged, typed lines
// take the file's line ends, and byte offsets land on their characters.
#include <QKeyEvent>
#include <QLabel>
#include <QTextBlock>

#include "studio/window/ChildFrame.h"
#include "studio/window/DocumentText.h"
#include "studio/window/GotoOffsetDlg.h"
#include "studio/window/OutputBar.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/tests/WindowFixture.h"

namespace {

std::string HighBytes() {
    std::string bytes;
    for (int c = 0x80; c <= 0xFF; ++c) {
        bytes += static_cast<char>(c);
    }
    return bytes;
}

struct CBytesCase {
    const char* m_name;
    std::string m_bytes;
    bool m_utf8;
    int m_lines;
};

// Writes `bytes` to `path` and reads them into `doc`.
::testing::AssertionResult LoadBytes(CSspDoc& doc, const std::string& path,
                                     const std::string& bytes) {
    if (!WriteFile(path, bytes)) {
        return ::testing::AssertionFailure() << "cannot write " << path;
    }
    QString error;
    if (!doc.Load(QString::fromStdString(path), error)) {
        return ::testing::AssertionFailure() << error.toStdString();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(WindowTest, UneditedFilesSaveByteIdentical) {
    const std::vector<CBytesCase> cases = {
        {"crlf-latin1", "one\r\n" + HighBytes() + "\r\nthree\r\n", false, 4},
        {"lf-utf8", "caf\xC3\xA9\nna\xC3\xAFve\n", true, 3},
        {"mixed", "a\r\nb\nc\r\nd", true, 4},
        {"lone-cr", "a\rb\nc", true, 2},
        {"nul", std::string("a\0b\nc\0", 6), true, 2},
        {"empty", "", true, 1},
        {"literal-mark", "a\xE2\x90\x8D\rb\n", false, 2},
        {"paragraph-separator",
         "a\xE2\x80\xA9"
         "b\n",
         false, 2},
        {"no-end", "x", true, 1},
    };
    for (const CBytesCase& c : cases) {
        const std::string in = m_root.File(std::string(c.m_name) + ".zrp");
        const std::string out = m_root.File(std::string(c.m_name) + ".out.zrp");
        CSspDoc doc;
        ASSERT_TRUE(LoadBytes(doc, in, c.m_bytes));
        EXPECT_EQ(doc.IsUtf8(), c.m_utf8) << c.m_name;
        EXPECT_EQ(doc.Document()->blockCount(), c.m_lines) << c.m_name;
        QString error;
        ASSERT_TRUE(doc.Save(QString::fromStdString(out), error)) << error.toStdString();
        EXPECT_EQ(ReadFile(out), c.m_bytes) << c.m_name;
        EXPECT_EQ(doc.Path(), QString::fromStdString(out));
    }
}

TEST_F(WindowTest, MarksForLoneCrAndNul) {
    bool utf8 = false;
    const std::vector<CTextLine> lines = CDocumentText::Decode(std::string("a\rb\0\nc", 6), utf8);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].m_text, QStringLiteral("a\u240Db\u2400"));
    EXPECT_EQ(lines[0].m_end, "\n");
    EXPECT_EQ(lines[1].m_end, "");
}

TEST_F(WindowTest, TypedLineTakesTheFilesLineEnd) {
    struct Case {
        std::string m_bytes;
        std::string m_expected;
    };
    for (const Case& c : {Case{"a\r\nb\r\n", "a\r\nnew\r\nb\r\n"}, Case{"a\nb\n", "a\nnew\nb\n"},
                          Case{"a", "a\nnew"}}) {
        CSspDoc doc;
        ASSERT_TRUE(LoadBytes(doc, m_root.File("typed.zrp"), c.m_bytes));
        CSspView view(&doc);
        QTextCursor cursor(doc.Document()->firstBlock());
        cursor.movePosition(QTextCursor::EndOfBlock);
        view.setTextCursor(cursor);
        QTest::keyClick(&view, Qt::Key_Return);
        QTest::keyClicks(&view, QStringLiteral("new"));
        std::string bytes;
        ASSERT_TRUE(doc.Bytes(bytes));
        EXPECT_EQ(bytes, c.m_expected);
        EXPECT_TRUE(doc.IsModified());
    }
}

TEST_F(WindowTest, Latin1FileRefusesWhatItCannotHold) {
    CSspDoc doc;
    ASSERT_TRUE(LoadBytes(doc, m_root.File("latin.zrp"), "\xE9t\xE9\n"));
    CSspView view(&doc);
    // "ü" is Latin-1, "€" is not.
    for (const QString& typed :
         {QString::fromUtf8("\xC3\xBC"), QString::fromUtf8("\xE2\x82\xAC")}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, typed);
        QApplication::sendEvent(&view, &press);
    }
    std::string bytes;
    ASSERT_TRUE(doc.Bytes(bytes));
    EXPECT_EQ(bytes, "\xFC\xE9t\xE9\n");
}

TEST_F(WindowTest, ByteOffsetsLandOnTheirCharacters) {
    // "é" is two bytes; each line ends in CR LF.
    CSspDoc doc;
    ASSERT_TRUE(LoadBytes(doc, m_root.File("offsets.zrp"), "\xC3\xA9t\xC3\xA9\r\nab\r\nxyz"));
    struct Case {
        long m_offset;
        int m_position;
    };
    // Positions count characters with one per line break: "été" is 0-2, its break 3, "ab" 4-5.
    for (const Case& c :
         {Case{0, 0}, Case{1, 0}, Case{2, 1}, Case{3, 2}, Case{5, 3}, Case{6, 3}, Case{7, 4},
          Case{8, 5}, Case{11, 7}, Case{13, 9}, Case{14, 10}, Case{1000, 10}}) {
        EXPECT_EQ(doc.PositionOfOffset(c.m_offset), c.m_position) << c.m_offset;
    }
    // A lone CR and a NUL are one byte each, shown as one mark each.
    CSspDoc marked;
    ASSERT_TRUE(LoadBytes(marked, m_root.File("marks.zrp"), std::string("\xC3\xA9\rb\0c\nd", 8)));
    ASSERT_TRUE(marked.IsUtf8());
    for (const Case& c : {Case{2, 1}, Case{3, 2}, Case{4, 3}, Case{5, 4}, Case{7, 6}}) {
        EXPECT_EQ(marked.PositionOfOffset(c.m_offset), c.m_position) << c.m_offset;
    }
}

TEST_F(WindowTest, GoToOffsetPastTheEndPutsTheCaretAtTheEnd) {
    CMainFrame& frame = Frame();
    ASSERT_TRUE(WriteFile(m_root.File("short.zrs"), "ab\r\ncd"));
    CChildFrame* child = frame.OpenDocument(Root() + "/short.zrs");
    ASSERT_NE(child, nullptr);
    child->View()->GoToOffset(999);
    EXPECT_EQ(child->View()->textCursor().position(), 5);
    child->View()->GoToOffset(4);
    EXPECT_EQ(frame.LineColumnPane()->text(), QStringLiteral("line 2 col 1"));

    // Through the command: the dialog takes only an integer.
    AnswerNextDialog<CGotoOffsetDlg>([](CGotoOffsetDlg& dialog) {
        dialog.Field()->setText(QStringLiteral("x"));
        dialog.accept();
        EXPECT_TRUE(dialog.isVisible());
        dialog.Field()->setText(QStringLiteral("5"));
        dialog.accept();
    });
    frame.Execute(kCmdGotoOffset);
    ASSERT_TRUE(m_answered);
    EXPECT_EQ(m_boxes, QStringList{"Please enter an integer."});
    EXPECT_EQ(frame.LineColumnPane()->text(), QStringLiteral("line 2 col 2"));
    EXPECT_EQ(frame.focusWidget(), child->View());
}

TEST_F(WindowTest, FailedOpenShowsTheBoxAndLogsTheReason) {
    CMainFrame& frame = Frame();
    EXPECT_EQ(frame.OpenDocument(Root() + "/missing.zrp"), nullptr);
    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes[0], QStringLiteral("If you are using Windows 9x/me, note that this program "
                                         "cannot load files larger than 64K."));
    QApplication::processEvents();
    EXPECT_TRUE(frame.Output()->DebugEdit()->toPlainText().contains(QStringLiteral("missing.zrp")));
}
