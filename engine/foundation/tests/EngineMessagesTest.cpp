#include "engine/foundation/EngineMessages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// A static initialiser elsewhere in the program reads the table: it must already be filled,
// whatever the link order.
const std::string g_readAtStartUp = g_msg.m_outOfMemory;

}  // namespace

TEST(EngineMessages, FilledBeforeOtherStaticInitialisersRun) {
    EXPECT_EQ(g_readAtStartUp, "Out of memory");
}

TEST(EngineMessages, TextsKeepTheirTrailingBlanksAndSpelling) {
    struct Case {
        const char* actual;
        const char* expected;
    };
    const Case cases[] = {
        {g_msg.m_missingCommit,
         "Missing CommitTransaction(). All database changes are discarded. "},
        {g_msg.m_rollbackErrors, " More errors when rolling back and cleaning up. "},
        {g_msg.m_breakOutsideWhile, "Break must be insdie a while loop."},
        {g_msg.m_missingEquals, "Missing = "},
        {g_msg.m_unknownTokenizerField, "Unknown tokenizer field: "},
        {g_msg.m_unknownStringFunction, "Unknown string library \"string\" function: "},
        {g_msg.m_outputLimitReached,
         "Maximum output of %dK reached. Output window has been reset.\r\n "},
        {g_msg.m_requestHeaderBanner,
         "-------------------- Resquest Header --------------------\r\n"},
        {g_msg.m_fileObjectSyntax,
         "file object syntax: \r\nfile att1('request.attachment1'); // file upload  \r\n"
         "file fs1('appInit.zrp');  // file on server "},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.actual, c.expected);
    }
}

// The printf rows are formatted with the arguments their callers pass; a stray or missing
// conversion would read a wrong argument.
TEST(EngineMessages, FormatRowsTakeTheirArguments) {
    char out[4096];
    std::snprintf(out, sizeof out, g_msg.m_dataSourceNotFound, "zr2");
    EXPECT_TRUE(std::string(out).starts_with("Data source [zr2] not found."));
    std::snprintf(out, sizeof out, g_msg.m_uploadTooLarge, 10);
    EXPECT_EQ(std::string(out), "The amount of data you sent has exceeded the limit of 10 MB. ");
    std::snprintf(out, sizeof out, g_msg.m_addColumnToSelect, "qty", "sum");
    EXPECT_EQ(std::string(out), "Please add column: [qty] to sum's SELECT list.");
    std::snprintf(out, sizeof out, g_msg.m_debugServerStarted, "127.0.0.1", "8080");
    EXPECT_TRUE(std::string(out).starts_with(
        "Debugger has started its web server at http://127.0.0.1:8080. It will pause"));
    std::snprintf(out, sizeof out, g_msg.m_connectPage, "http://h:1/", "http://h:1/");
    const std::string page(out);
    EXPECT_NE(page.find("<title>Velmorin Server : Connect</title>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"http://h:1/\">http://h:1/</a>"), std::string::npos);
    EXPECT_NE(page.find("100% "), std::string::npos);
    EXPECT_EQ(page.find("%%"), std::string::npos);
}
