#include "engine/foundation/HtmlCodec.h"

#include <gtest/gtest.h>

#include <string>

TEST(HtmlEscape, Replacements) {
    struct Case {
        std::string text;
        bool newlines;
        std::string expected;
    };
    const Case cases[] = {
        {"plain text", false, "plain text"},
        {"plain text", true, "plain text"},
        {"", true, ""},
        {"a<b>&\"c\"", false, "a&lt;b&gt;&amp;&quot;c&quot;"},
        {"&amp;", false, "&amp;amp;"},
        {"line1\r\nline2", true, "line1<br>\r\nline2"},
        {"line1\r\nline2", false, "line1\r\nline2"},
        {"a\nb", true, "a<br>\r\nb"},
        {"<x>\r\n", false, "&lt;x&gt;\r\n"},
        {"<x>\r\r", true, "&lt;x&gt;"},
        {"only\rcarriage\rreturns", true, "only\rcarriage\rreturns"},
        {"caf\xE9 & \xFF", false, "caf\xE9 &amp; \xFF"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        HtmlEscape(text, c.newlines);
        EXPECT_EQ(text, c.expected) << c.text << " newlines=" << c.newlines;
    }
}
