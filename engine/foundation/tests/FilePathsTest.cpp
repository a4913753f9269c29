#include "engine/foundation/FilePaths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class FilePathsTest : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return (m_root / name).string(); }
    void Touch(const char* name) const { std::ofstream(m_root / name) << "x"; }

    CTempFolder m_folder;
    fs::path m_root{m_folder.Path()};
};

}  // namespace

TEST(NormalizePath, FoldsDotDot) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"a/b/../c", "a/c"},
        {"a/b/c/../../d", "a/d"},
        {"a/b/c/../../../d", "d"},
        {"a/../../x", "x"},
        {"../x", "x"},
        {"../../x/y", "x/y"},
        {"\\a\\..\\b", "\\b"},
        {"/a/../../b", "/b"},
        {"a\\b/..\\c", "a\\c"},
        {"a//b//..//c", "a//c"},
        {"a/b/..", "a/"},
        {"a/..", ""},
        {"..", ""},
        {"", ""},
        {"a/b/c.zrp", "a/b/c.zrp"},
        {"/x//y\\\\z/", "/x//y\\\\z/"},
        {"a/...b/c", "a/...b/c"},
        {"a/..b/../c", "a/c"},
        {"x/./../y", "x/y"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NormalizePath(c.path), c.expected) << c.path;
    }
}

TEST_F(FilePathsTest, DirectoryExists) {
    fs::create_directory(m_root / "b-dir");
    Touch("a-file");
    struct Case {
        std::string path;
        bool expected;
    };
    const Case cases[] = {
        {Path("b-dir"), true},
        {Path("b-dir") + "/", true},
        {Path("a-file"), false},
        {Path("missing"), false},
        {"", false},
        {Path("b-*"), true},
        {Path("?-dir"), true},
        // The first match in name order is the file.
        {Path("*"), false},
        {Path("*-dir"), true},
        {Path("z*"), false},
        {Path("missing/*"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DirectoryExists(c.path), c.expected) << c.path;
    }
}

TEST_F(FilePathsTest, EnsureDirectoryCreatesOneLevel) {
    EXPECT_TRUE(EnsureDirectory(Path("log")));
    EXPECT_TRUE(fs::is_directory(m_root / "log"));
    EXPECT_TRUE(EnsureDirectory(Path("log")));
    EXPECT_FALSE(EnsureDirectory(Path("no/such/parent")));
    EXPECT_FALSE(fs::exists(m_root / "no"));
    Touch("plain");
    EXPECT_FALSE(EnsureDirectory(Path("plain")));
}

TEST_F(FilePathsTest, ForceDeleteFileClearsReadOnlyFirst) {
    Touch("ro.txt");
    ASSERT_EQ(::chmod(Path("ro.txt").c_str(), 0444), 0);
    CCapturedLog log;

    EXPECT_TRUE(ForceDeleteFile(Path("ro.txt"), log.Writer()));
    EXPECT_FALSE(fs::exists(m_root / "ro.txt"));
    EXPECT_TRUE(log.Entries().empty());

    Touch("rw.txt");
    EXPECT_TRUE(ForceDeleteFile(Path("rw.txt"), log.Writer()));
    EXPECT_FALSE(fs::exists(m_root / "rw.txt"));
}

TEST_F(FilePathsTest, ForceDeleteFileOfAMissingFileLogsTheSystemError) {
    CCapturedLog log;
    EXPECT_FALSE(ForceDeleteFile(Path("gone.txt"), log.Writer()));
    ASSERT_EQ(log.Entries().size(), 1u);
    EXPECT_EQ(log.Entries()[0],
              "Error [2]: No such file or directory\r\n when getting attributes of " +
                  Path("gone.txt") + "\r\n");
}

TEST_F(FilePathsTest, ForceDeleteFileRemovesALinkNotItsTarget) {
    Touch("target.txt");
    ASSERT_EQ(::chmod(Path("target.txt").c_str(), 0444), 0);
    fs::create_symlink(m_root / "target.txt", m_root / "link.txt");
    CCapturedLog log;
    EXPECT_TRUE(ForceDeleteFile(Path("link.txt"), log.Writer()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_root / "link.txt")));
    struct stat info {};
    ASSERT_EQ(::stat(Path("target.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
}

TEST_F(FilePathsTest, ForceDeleteFileOfADirectoryFails) {
    fs::create_directory(m_root / "dir");
    CCapturedLog log;
    EXPECT_FALSE(ForceDeleteFile(Path("dir"), log.Writer()));
    EXPECT_TRUE(fs::is_directory(m_root / "dir"));
}
