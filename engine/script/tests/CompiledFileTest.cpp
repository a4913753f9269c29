#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/script/SspCompiledFileCache.h"
#include "engine/script/SspHarness.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

namespace fs = std::filesystem;

TEST(CompiledFileTest, AnEditedFileIsCompiledAgainAtTheNextRun) {
    struct Case {
        const char* name;
        const char* before;
        const char* beforeOutput;
        const char* after;
        const char* afterOutput;
        bool later;  // the edit gets a later modification time
    } cases[] = {
        {"same_size.zrs", "write 1;", "1", "write 2;", "2", true},  // only the time differs
        {"new_size.zrs", "write 1;", "1", "write 1 + 21;", "22", true},
        // Written within the same tick of the file clock: nothing but the text differs.
        {"same_tick.zrs", "write 1;", "1", "write 3;", "3", false},
    };
    CTempFolder folder;
    for (const Case& c : cases) {
        const std::string path = folder.File(c.name);
        WriteFile(path, c.before);
        const auto written = fs::last_write_time(path);
        EXPECT_EQ(RunSspFile(path).m_output, c.beforeOutput) << c.name;
        EXPECT_EQ(RunSspFile(path).m_output, c.beforeOutput) << c.name;
        WriteFile(path, c.after);
        if (c.later) {
            fs::last_write_time(path, written + std::chrono::seconds(5));
        } else {
            fs::last_write_time(path, written);
        }
        CSspRunResult second = RunSspFile(path);
        EXPECT_EQ(second.m_code, 0) << c.name << ": " << second.m_error;
        EXPECT_EQ(second.m_output, c.afterOutput) << c.name;
    }
}

TEST(CompiledFileTest, ThreadsAskingAtOnceShareOneCompiledForm) {
    CTempFolder folder;
    const std::string path = folder.File("shared.zrs");
    WriteFile(path, "set Local.i = 0;\nwhile (Local.i < 3) set Local.i = Local.i + 1; endwhile");
    constexpr int kThreads = 8;
    std::vector<std::shared_ptr<CSspCompiledFile>> got(kThreads);
    std::latch start(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                std::string error;
                start.arrive_and_wait();
                got[i] = CSspCompiledFileCache::Instance().Get(path, error);
            });
        }
    }
    ASSERT_NE(got[0], nullptr);
    for (const auto& file : got) {
        EXPECT_EQ(file, got[0]);
    }
    std::string error;
    EXPECT_EQ(CSspCompiledFileCache::Instance().Get(path, error), got[0]);
}

TEST(CompiledFileTest, AHolderKeepsTheFormItHasWhenTheFileChanges) {
    CTempFolder folder;
    const std::string path = folder.File("held.zrs");
    WriteFile(path, "write 1;");
    std::string error;
    std::shared_ptr<CSspCompiledFile> old = CSspCompiledFileCache::Instance().Get(path, error);
    ASSERT_NE(old, nullptr) << error;
    WriteFile(path, "write 'longer';");
    std::shared_ptr<CSspCompiledFile> now = CSspCompiledFileCache::Instance().Get(path, error);
    ASSERT_NE(now, nullptr) << error;
    EXPECT_NE(now, old);
    EXPECT_EQ(std::string(old->Begin(), old->End()), "write 1;");
    EXPECT_EQ(std::string(now->Begin(), now->End()), "write 'longer';");
}

TEST(CompiledFileTest, AFileThatGoesAwayFailsAsBefore) {
    CTempFolder folder;
    const std::string path = folder.File("gone.zrs");
    WriteFile(path, "write 1;");
    EXPECT_EQ(RunSspFile(path).m_output, "1");
    fs::remove(path);
    CSspRunResult result = RunSspFile(path);
    EXPECT_EQ(result.m_code, 1);
    EXPECT_EQ(result.m_error.rfind("Failed to open file:  [" + path + "]. ", 0), 0u)
        << result.m_error;
}

}  // namespace
