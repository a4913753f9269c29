#include "studio/FindInFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"
#include "studio/FileFindThread.h"

namespace {

std::vector<std::string> Find(const std::string& text, const std::string& types,
                              const std::string& folder, bool stop = false) {
    std::vector<std::string> rows;
    std::atomic<bool> stopFlag{stop};
    FindInFiles(text, types, folder, stopFlag,
                [&](const std::string& row) { rows.push_back(row); });
    return rows;
}

struct FindCase {
    const char* name;
    std::string content;  // of <d>/a.zrp
    const char* text;
    const char* types;
    std::vector<std::string> middle;  // rows between "{" and the count; "<p>" is the file
    int count;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FindCase& c, std::ostream* out) {
    *out << c.name;
}

class FindInFilesTable : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindInFilesTable, GivesTheRowsAndCount) {
    const FindCase& c = GetParam();
    CTempFolder dir;
    const std::string file = dir.File("a.zrp");
    ASSERT_TRUE(WriteFile(file, c.content));
    std::vector<std::string> expected{"{"};
    for (std::string row : c.middle) {
        const size_t at = row.find("<p>");
        if (at != std::string::npos) {
            row.replace(at, 3, file);
        }
        expected.push_back(row);
    }
    expected.push_back(std::to_string(c.count) + " occurrence(s) have been found");
    expected.push_back("}");
    EXPECT_EQ(Find(c.text, c.types, dir.Path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindInFilesTable,
    ::testing::Values(
        FindCase{"empty_text", "foo\n", "", ".zrp", {}, 0},
        FindCase{
            "one_row_per_line", "x\nfoo FOO foo\ny\n", "foo", ".zrp", {"<p> (2): foo FOO foo"}, 1},
        FindCase{
            "case_ignored", "Hello World\n", "wORLD", ".zrp; .zrs", {"<p> (1): Hello World"}, 1},
        FindCase{"nul",
                 std::string("a foo b\0zz\n", 11),
                 "foo",
                 ".zrp",
                 {"<p> (1): a foo b", "Skipping <p> because it is a binary file"},
                 1},
        FindCase{"match_at_last_byte", "abc\nxyfoo", "foo", ".zrp", {"<p> (2): xyfoo"}, 1},
        FindCase{"crlf", "one\r\ntwo foo\r\n", "foo", ".zrp", {"<p> (2): two foo"}, 1},
        FindCase{"upper_case_types", "foo\n", "foo", ".ZRP", {}, 0},
        FindCase{"other_type", "foo\n", "foo", ".zrs", {}, 0},
        FindCase{"empty_file", "", "foo", ".zrp", {}, 0}),
    [](const ::testing::TestParamInfo<FindCase>& param) { return std::string(param.param.name); });

TEST(FindInFilesTest, WalksSubfoldersAndReportsUnreadableFiles) {
    CTempFolder dir;
    mkdir(dir.File("sub").c_str(), 0755);
    WriteFile(dir.File("sub/b.ZRP"), "say foo\n");
    ASSERT_EQ(symlink(dir.File("missing.zrp").c_str(), dir.File("dangling.zrp").c_str()), 0);
    ASSERT_EQ(symlink(dir.Path().c_str(), dir.File("sub/loop").c_str()), 0);
    const std::vector<std::string> rows = Find("foo", "zrp", dir.Path());
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], "{");
    // Sibling order is the file system's.
    std::vector<std::string> middle(rows.begin() + 1, rows.begin() + 3);
    std::sort(middle.begin(), middle.end());
    EXPECT_EQ(middle[0], dir.File("sub/b.ZRP") + " (1): say foo");
    EXPECT_EQ(middle[1], "Error [2]: No such file or directory");
    EXPECT_EQ(rows[3], "1 occurrence(s) have been found");
    EXPECT_EQ(rows[4], "}");
}

TEST(FindInFilesTest, MissingFolderAndStop) {
    CTempFolder dir;
    WriteFile(dir.File("a.zrp"), "foo\n");
    EXPECT_EQ(Find("foo", ".zrp", dir.File("nope")),
              (std::vector<std::string>{"{", "Root folder not found or the folder is empty.",
                                        "0 occurrence(s) have been found", "}"}));
    EXPECT_EQ(Find("foo", ".zrp", dir.Path(), true),
              (std::vector<std::string>{"{", "User canceled find in files.",
                                        "0 occurrence(s) have been found", "}"}));
}

TEST(FindInFilesTest, ParsesFileTypesAndSplitsRows) {
    EXPECT_EQ(ParseFileTypes("zrp, ZRS html;.txt"),
              (std::vector<std::string>{".zrp", ".ZRS", ".html", ".txt"}));
    std::string path;
    int line = 0;
    ASSERT_TRUE(SplitFindResult("/d/my dir/a.zrp (12): x (3): y", path, line));
    EXPECT_EQ(path, "/d/my dir/a.zrp");
    EXPECT_EQ(line, 12);
    EXPECT_FALSE(SplitFindResult("3 occurrence(s) have been found", path, line));
}

TEST(FileFindThreadTest, RunsOnceAtATimeAndStops) {
    CTempFolder dir;
    for (int i = 0; i < 200; ++i) {
        WriteFile(dir.File("f" + std::to_string(i) + ".zrp"), "foo\n");
    }
    std::mutex lock;
    std::vector<std::string> rows;
    CFileFindThread finder;
    auto sink = [&](const std::string& row) {
        std::lock_guard<std::mutex> guard(lock);
        rows.push_back(row);
    };
    ASSERT_TRUE(finder.Start("foo", ".zrp", dir.Path(), sink));
    EXPECT_FALSE(finder.Start("foo", ".zrp", dir.Path(), sink));
    finder.Join();
    EXPECT_TRUE(finder.IsDone());
    {
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_GE(rows.size(), 2u);
        EXPECT_EQ(rows.back(), "}");
        EXPECT_EQ(rows[rows.size() - 2], "200 occurrence(s) have been found");
        rows.clear();
    }
    // A stop from another thread ends the walk with the cancel row before the count.
    std::promise<void> stopped;
    std::shared_future<void> stoppedSeen = stopped.get_future().share();
    ASSERT_TRUE(finder.Start("foo", ".zrp", dir.Path(), [&, stoppedSeen](const std::string& row) {
        if (row == "{") {
            stoppedSeen.wait();
        }
        sink(row);
    }));
    std::thread stopper([&] {
        finder.Stop();
        stopped.set_value();
    });
    stopper.join();
    finder.Join();
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_GE(rows.size(), 4u);
    EXPECT_EQ(rows[rows.size() - 3], "User canceled find in files.");
    EXPECT_EQ(rows.back(), "}");
}

}  // namespace
