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

TEST(FormatSystemError, UnknownCodeStillNamesTheCode) {
    const std::string text = FormatSystemError(987654);
    EXPECT_TRUE(text.starts_with("Error [987654]: ")) << text;
    EXPECT_TRUE(text.ends_with("\r\n")) << text;
}

TEST(FormatSystemError, SafeFromManyThreads) {
    std::vector<std::thread> threads;
    std::vector<std::string> results(8);
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&results, i] {
            const int code = (i % 2) ? ENOENT : EACCES;
            std::string last;
            for (int n = 0; n < 2000; ++n) {
                last = FormatSystemError(code);
            }
            results[i] = last;
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], (i % 2) ? "Error [2]: No such file or directory\r\n"
                                      : "Error [13]: Permission denied\r\n");
    }
}
