#include "engine/foundation/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

TEST(FormatSystemError, CodeAndSystemTextWithTrailingLineBreak) {
    struct Case {
        int code;
        const char* expected;
    };
    const Case cases[] = {
        {ENOENT, "Error [2]: No such file or directory\r\n"},
        {EACCES, "Error [13]: Permission denied\r\n"},
        {0, "Error [0]: Success\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatSystemError(c.code), c.expected);
    }
}

TEST(SystemErrorText, BareSystemTextAsStrerrorGivesIt) {
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(SystemErrorText(987654), "Unknown error 987654");
}

TEST(FormatSystemError, UnknownCodeStillNamesTheCode) {
    const std::string text = FormatSystemError(987654);
    EXPECT_TRUE(text.starts_with("Error [987654]: ")) << text;
    EXPECT_TRUE(text.ends_with("\r\n")) << text;
}

// Codes the system has no text for are the ones whose text is built in a buffer: threads
// that each format their own must never see another's number.
TEST(FormatSystemError, SafeFromManyThreads) {
    constexpr int kThreads = 8;
    constexpr int kFirstUnknown = 100000;
    std::vector<std::thread> threads;
    std::vector<std::string> wrong(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int n = 0; n < 2000 && wrong[t].empty(); ++n) {
                const std::string code = std::to_string(kFirstUnknown + t * 10000 + n);
                const std::string text = FormatSystemError(std::stoi(code));
                if (text != "Error [" + code + "]: Unknown error " + code + "\r\n") {
                    wrong[t] = text;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(wrong[t], "") << "thread " << t;
    }
}
