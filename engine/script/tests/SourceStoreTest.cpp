#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/script/SspSourceStore.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

namespace fs = std::filesystem;

class SourceStoreTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        fs::path path = m_dir / name;
        WriteFile(path, text);
        return path.string();
    }

    CTempFolder m_folder;
    fs::path m_dir{m_folder.Path()};
};

TEST_F(SourceStoreTest, SamePathFindsSameEntryAndCaseMatters) {
    std::string path = Write("Page.zrp", "abc");
    Write("page.zrp", "other");
    CSspSourceStore store;
    CSspSourceFile* first = store.GetFile(path);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(store.GetFile(path), first);
    CSspSourceFile* lower = store.GetFile((m_dir / "page.zrp").string());
    ASSERT_NE(lower, nullptr);
    EXPECT_NE(lower, first);
    EXPECT_EQ(std::string(lower->m_pBegin, lower->m_pEnd), "other");
}

TEST_F(SourceStoreTest, MissingFileFailsWithItsPathAndIsRetried) {
    std::string path = (m_dir / "late.zrs").string();
    CSspSourceStore store;
    EXPECT_EQ(store.GetFile(path), nullptr);
    EXPECT_EQ(store.m_strError.rfind("Failed to open file:  [" + path + "]. Error [2]: ", 0), 0u)
        << store.m_strError;
    EXPECT_EQ(store.m_files.size(), 1u);

    Write("late.zrs", "write 1;");
    CSspSourceFile* file = store.GetFile(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(store.m_strError, "");
    EXPECT_EQ(file->m_nSize, 8u);
}

TEST_F(SourceStoreTest, EmptyFileFailsAtTheMappingStep) {
    std::string path = Write("empty.zrp", "");
    CSspSourceStore store;
    EXPECT_EQ(store.GetFile(path), nullptr);
    EXPECT_EQ(store.m_strError.rfind("Failed to create file mapping object. [" + path + "]. ", 0),
              0u)
        << store.m_strError;
}

TEST_F(SourceStoreTest, TextSurvivesTheFileBeingTruncated) {
    std::string path = Write("cut.zrp", "0123456789");
    CSspSourceStore store;
    CSspSourceFile* file = store.GetFile(path);
    ASSERT_NE(file, nullptr);
    fs::resize_file(path, 0);
    EXPECT_EQ(std::string(file->m_pBegin, file->m_pEnd), "0123456789");
}

TEST_F(SourceStoreTest, LineIndex) {
    // Lines end with their "\n"; text after the last one belongs to no line.
    std::string path = Write("lines.zrs", "ab\n\ncd\nef");
    CSspSourceStore store;
    CSspSourceFile* file = store.GetFile(path);
    ASSERT_NE(file, nullptr);
    const char* b = file->m_pBegin;
    struct Case {
        int offset;
        int line;
        int lineStart;
    } cases[] = {{0, 1, 0}, {2, 1, 0}, {3, 2, 3}, {4, 3, 4}, {6, 3, 4}, {7, 0, 0}, {8, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(file->GetLineOfPosition(b + c.offset), c.line) << "offset " << c.offset;
        EXPECT_EQ(file->GetLineStart(b + c.offset) - b, c.lineStart) << "offset " << c.offset;
    }
}

TEST_F(SourceStoreTest, PageFilesByExtension) {
    struct Case {
        const char* name;
        bool page;
    } cases[] = {{"a.zrp", true},  {"A.ZRP", true},      {"a.zrs", false},
                 {"noext", false}, {"a.zrp.bak", false}, {"a.html", false}};
    for (const Case& c : cases) {
        CSspSourceFile file(std::string("/x/") + c.name);
        EXPECT_EQ(file.IsPageFile(), c.page) << c.name;
    }
}

TEST_F(SourceStoreTest, RemoveAllUnloads) {
    std::string path = Write("a.zrs", "x");
    CSspSourceStore store;
    ASSERT_NE(store.GetFile(path), nullptr);
    store.RemoveAll();
    EXPECT_TRUE(store.m_files.empty());
}

}  // namespace
