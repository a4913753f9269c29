#include "engine/foundation/AsciiSpace.h"

#include <gtest/gtest.h>

#include <string_view>

// Each kind is a strict superset of the one before; a byte outside ASCII is never a blank.
TEST(AsciiSpace, EachKindNamesItsOwnBytes) {
    struct Case {
        char c;
        bool spaceOrTab;
        bool lineBreak;
        bool ascii;
    };
    const Case cases[] = {
        {' ', true, true, true},
        {'\t', true, true, true},
        {'\r', false, true, true},
        {'\n', false, true, true},
        {'\v', false, false, true},
        {'\f', false, false, true},
        {'a', false, false, false},
        {'\0', false, false, false},
        {static_cast<char>(0xA0), false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSpaceOrTab(c.c), c.spaceOrTab) << static_cast<int>(c.c);
        EXPECT_EQ(IsSpaceTabOrLineBreak(c.c), c.lineBreak) << static_cast<int>(c.c);
        EXPECT_EQ(IsAsciiSpace(c.c), c.ascii) << static_cast<int>(c.c);
    }
}

TEST(AsciiSpace, TrimsCutOnlyTheirKindAtTheRightEnds) {
    const std::string_view text = "\v\r\n \t a b \t\r\n\f";
    EXPECT_EQ(TrimSpaceOrTab(" \t a b \t\r\n"), "a b \t\r\n");
    EXPECT_EQ(TrimSpaceTabOrLineBreak(text), "\v\r\n \t a b \t\r\n\f");
    EXPECT_EQ(TrimSpaceTabOrLineBreak("\r\n a b \t\r\n"), "a b");
    EXPECT_EQ(TrimAsciiSpace(text), "a b");
    EXPECT_EQ(TrimSpaceTabOrLineBreakRight(" a \r\n"), " a");
    EXPECT_EQ(TrimAsciiSpaceRight(text), "\v\r\n \t a b");
    EXPECT_EQ(TrimAsciiSpace(" \t\r\n"), "");
    EXPECT_EQ(TrimSpaceOrTab(""), "");
}
