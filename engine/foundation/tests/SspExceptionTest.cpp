#include "engine/foundation/SspException.h"

#include <gtest/gtest.h>

#include <string>

TEST(SspException, NullTextGivesEmptyMessageAndKeepsPosition) {
    const char source[] = "set a = ;";
    const CSspException e(static_cast<const char*>(nullptr), source + 6);
    EXPECT_EQ(e.Message(), "");
    EXPECT_EQ(e.Position(), source + 6);
}

TEST(SspException, CopiesTextSoTheThrowerMayReuseItsBuffer) {
    std::string text = "Unknown Object: foo";
    const char source[] = "foo.bar()";
    CSspException e(text.c_str(), source);
    text.assign("overwritten");
    EXPECT_EQ(e.Message(), "Unknown Object: foo");
    EXPECT_EQ(e.Position(), source);
}

TEST(SspException, CopySurvivesThrowAndCatchByValue) {
    const char source[] = "x";
    try {
        throw CSspException(std::string("Missing ending ;"), source);
    } catch (CSspException caught) {
        const CSspException copy(caught);
        EXPECT_EQ(copy.Message(), "Missing ending ;");
        EXPECT_EQ(copy.Position(), source);
        return;
    }
    FAIL() << "the exception was not caught by value";
}

TEST(SspException, BytesAboveAsciiAndEmbeddedNulsInStringTextKept) {
    const std::string text("caf\xE9\0x", 6);
    const CSspException e(text);
    EXPECT_EQ(e.Message(), text);
    EXPECT_EQ(e.Position(), nullptr);
}
