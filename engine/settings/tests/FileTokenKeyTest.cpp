#include "engine/settings/FileTokenKey.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "engine/foundation/LogWriter.h"
#include "engine/settings/tests/SettingsTestSupport.h"

namespace {

bool IsKeyText(const std::string& text) {
    CFileTokenKey key{};
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos &&
           ParseFileTokenKey(text, key) && FileTokenKeyText(key) == text;
}

std::string LoadedKey(const TempRoot& root, SettingsBuild build) {
    auto settings = MakeSettings(root, build);
    EXPECT_TRUE(settings->Load());
    return settings->FileTokenKey;
}

TEST(FileTokenKeyTest, TheFirstServerStartMakesTheKeyAndEveryLaterStartKeepsIt) {
    TempRoot root;
    // The console neither reads nor makes it.
    EXPECT_EQ(LoadedKey(root, SettingsBuild::kConsole), "");
    EXPECT_EQ(root.Stored("FileTokenKey"), std::nullopt);

    const std::string key = LoadedKey(root, SettingsBuild::kServer);
    EXPECT_TRUE(IsKeyText(key)) << key;
    EXPECT_EQ(root.Stored("FileTokenKey"), key);
    EXPECT_EQ(LoadedKey(root, SettingsBuild::kServer), key);

    // A console save of its own settings leaves the key as it is.
    auto console = MakeSettings(root, SettingsBuild::kConsole);
    ASSERT_TRUE(console->Load());
    ASSERT_TRUE(console->Save());
    EXPECT_EQ(LoadedKey(root, SettingsBuild::kServer), key);
}

TEST(FileTokenKeyTest, AStoredValueThatIsNoKeyIsReplaced) {
    const std::string upper(64, 'A');
    const struct {
        std::string stored;
        bool kept;
    } cases[] = {
        {"", false},
        {"secret", false},
        {std::string(63, 'a'), false},
        {std::string(65, 'a'), false},
        {std::string(63, 'a') + "g", false},
        {upper, true},  // hex in either case is a key
    };
    std::set<std::string> made;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        TempRoot root;
        root.Store({{"FileTokenKey", c.stored}});
        const std::string key = LoadedKey(root, SettingsBuild::kServer);
        EXPECT_EQ(root.Stored("FileTokenKey"), key);
        if (c.kept) {
            EXPECT_EQ(key, c.stored);
        } else {
            EXPECT_TRUE(IsKeyText(key)) << key;
            EXPECT_TRUE(made.insert(key).second) << "every key is drawn anew";
        }
    }
}

TEST(FileTokenKeyTest, AStoreThatCannotBeWrittenLeavesNoKeyAndSaysSo) {
    TempRoot root;
    std::ofstream(root.Path() + "/etc") << "a file where the folder should be";
    CCapturedLog log(g_log);
    EXPECT_EQ(LoadedKey(root, SettingsBuild::kServer), "");
    EXPECT_TRUE(log.Has("Cannot keep the attachment link key in")) << log.All();
}

// Programs that start at the same time all read the store before any of them can write it:
// each must still end with the key that was written first, or the links one makes fail in
// the other.
TEST(FileTokenKeyTest, ProgramsStartingAtOnceEndWithOneKey) {
    TempRoot root;
    {
        auto console = MakeSettings(root, SettingsBuild::kConsole);
        ASSERT_TRUE(console->Load());  // the task rows, so that a start writes nothing else
        ASSERT_TRUE(console->Save());
    }
    const std::string lockPath = CSettingsStore::PathUnderRoot(root.Path()) + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);

    constexpr int kPrograms = 6;
    std::vector<pid_t> children;
    for (int i = 0; i < kPrograms; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(lock);
            auto settings = MakeSettings(root, SettingsBuild::kServer);
            settings->Load();
            std::ofstream(root.File("key" + std::to_string(i))) << settings->FileTokenKey;
            ::_exit(0);
        }
        children.push_back(child);
    }
    // Long enough for every start to have read the store and to wait for the lock.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::flock(lock, LOCK_UN);
    ::close(lock);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::optional<std::string> stored = root.Stored("FileTokenKey");
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(IsKeyText(*stored));
    for (int i = 0; i < kPrograms; ++i) {
        std::ifstream file(root.File("key" + std::to_string(i)));
        std::string key;
        file >> key;
        EXPECT_EQ(key, *stored) << "program " << i;
    }
}

}  // namespace
