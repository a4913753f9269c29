#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "engine/script/SspRestoreGuard.h"
#include "engine/script/SspScanner.h"

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

TEST(SspRestoreGuard, PutsTheScannerBackWhereItStood) {
    const char text[] = "a = 1; b = 2;";
    const char* end = text + sizeof text - 1;
    CSspScanner scanner;
    scanner.Start(text, end, 1);
    EXPECT_THROW(
        {
            CSspRestoreGuard guard(scanner);
            std::string token;
            scanner.NextToken(token);
            scanner.SetEnd(text + 3);
            scanner.SetCodeKind(0);
            throw std::runtime_error("scan failed");
        },
        std::runtime_error);
    EXPECT_EQ(scanner.Position(), text);
    EXPECT_EQ(scanner.End(), end);
    EXPECT_EQ(scanner.CodeKind(), 1);
    EXPECT_EQ(scanner.Begin(), text);
}

}  // namespace
