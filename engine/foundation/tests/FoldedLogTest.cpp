#include "engine/foundation/FoldedLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "engine/foundation/LogWriter.h"
#include "engine/testsupport/CapturedLog.h"

namespace {

using namespace std::chrono_literals;

TEST(FoldedLogTest, RepeatsAreCountedAndReportedOncePerInterval) {
    auto log = std::make_unique<CCapturedLog>(g_log);
    CFoldedLog folded(100ms);
    for (int i = 0; i < 1000; ++i) {
        folded.Log("refused");
    }
    folded.Log("other");
    EXPECT_EQ(log->CountEqual("refused\r\n"), 1) << "the first is written, the rest only counted";
    EXPECT_EQ(log->CountEqual("other\r\n"), 1) << "another text is a kind of its own";
    EXPECT_EQ(log->Entries().size(), 2u);

    std::this_thread::sleep_for(150ms);
    folded.Flush();
    EXPECT_EQ(log->CountEqual("999 more like this were refused: refused\r\n"), 1);
    EXPECT_EQ(log->Entries().size(), 3u) << "nothing is reported for a text that did not repeat";

    // A flood that goes on gives one count line an interval, not one line a refusal.
    folded.Log("refused");
    folded.Log("refused");
    EXPECT_EQ(log->Entries().size(), 3u);
    std::this_thread::sleep_for(150ms);
    folded.Log("refused");
    EXPECT_EQ(log->CountEqual("2 more like this were refused: refused\r\n"), 1);

    // Quiet for a whole interval, the text is written in full again.
    std::this_thread::sleep_for(150ms);
    folded.Flush();
    std::this_thread::sleep_for(150ms);
    folded.Flush();
    const int before = log->CountEqual("refused\r\n");
    folded.Log("refused");
    EXPECT_EQ(log->CountEqual("refused\r\n"), before + 1);
}

}  // namespace
