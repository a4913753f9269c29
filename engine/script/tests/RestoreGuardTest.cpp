#include <stdexcept>

#include <gtest/gtest.h>

#include "engine/script/SspRestoreGuard.h"

namespace {

TEST(SspRestoreGuard, PutsStateBackOnReturnAndOnThrow) {
    const char text[] = "abc";
    const char* pos = text;
    int kind = 0;
    {
        CSspRestoreGuard guard(pos, kind);
        pos = text + 2;
        kind = 1;
    }
    EXPECT_EQ(pos, text);
    EXPECT_EQ(kind, 0);

    EXPECT_THROW(
        {
            CSspRestoreGuard guard(pos, kind);
            pos = text + 1;
            kind = 1;
            throw std::runtime_error("scan failed");
        },
        std::runtime_error);
    EXPECT_EQ(pos, text);
    EXPECT_EQ(kind, 0);
}

TEST(SspRestoreGuard, RestoreEarlyThenDismissKeepsTheLaterState) {
    const char text[] = "abc";
    const char* pos = text;
    {
        CSspRestoreGuard guard(pos);
        pos = text + 1;
        guard.Restore();
        EXPECT_EQ(pos, text);
        pos = text + 2;
        guard.Dismiss();
    }
    EXPECT_EQ(pos, text + 2);
}

}  // namespace
