#include "console/SqlScript.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

using Statements = std::vector<std::string>;

TEST(SqlScript, SplitRules) {
    struct Case {
        const char* what;
        const char* text;
        Statements statements;
    } cases[] = {
        {"two tables, one a line",
         "CREATE TABLE a (x INT);\r\nCREATE TABLE b (y INT);\r\n",
         {"CREATE TABLE a (x INT)", "CREATE TABLE b (y INT)"}},
        {"line ends and tabs become one blank",
         "CREATE TABLE a (\r\n\tx INT,\r\n  y INT\r\n);",
         {"CREATE TABLE a ( x INT, y INT )"}},
        {"a go line ends a statement",
         "CREATE TABLE a (x INT)\r\ngo\r\nINSERT INTO a VALUES (1)\nGO\n",
         {"CREATE TABLE a (x INT)", "INSERT INTO a VALUES (1)"}},
        {"go inside a line does not", "SELECT go\r\nFROM t go\r\n;", {"SELECT go FROM t go"}},
        {"go at the very end without a line end does not", "SELECT 1\r\ngo", {}},
        {"a ';' then a go line runs no empty statement",
         "CREATE TABLE a (x INT);\r\ngo\r\n",
         {"CREATE TABLE a (x INT)"}},
        {"a procedure keeps its semicolons and line ends, not its CRs",
         "CREATE PROCEDURE p AS\r\nBEGIN\r\n  SELECT 1;\r\n  SELECT 2;\r\nEND;\r\n/\r\nSELECT 3;",
         {"CREATE PROCEDURE p AS\nBEGIN\n  SELECT 1;\n  SELECT 2;\nEND;", "SELECT 3"}},
        {"a column named after a trigger starts a block",
         "CREATE TABLE t (trigger_name INT);\r\nSELECT 1;\r\ngo\r\nSELECT 2;",
         {"CREATE TABLE t (trigger_name INT);\nSELECT 1;", "SELECT 2"}},
        {"comments never reach the database",
         "-- heading\r\n/* a\r\n block */SELECT 1 -- tail\r\n, 2; /* unclosed",
         {"SELECT 1 , 2"}},
        {"a leading blank line is dropped", "\r\n\r\n  SELECT 1;", {"SELECT 1"}},
        {"text after the last end is not run", "SELECT 1; SELECT 2", {"SELECT 1"}},
        {"a slash line ends a statement", "SELECT 1\n/\nSELECT 2\n/\n", {"SELECT 1", "SELECT 2"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitSqlScript(c.text), c.statements) << c.what;
    }
}

// The shipped scripts, one a dialect: none can run here but SQLite's and PostgreSQL's, so
// the others are only split.
TEST(SqlScript, ShippedScriptsSplitIntoTheirStatements) {
    struct Case {
        const char* file;
        Statements starts;
    } cases[] = {
        {"zr2sqlite.sql",
         {"CREATE TABLE IF NOT EXISTS zr2_registry",
          "CREATE TABLE IF NOT EXISTS "
          "support_request",
          "INSERT INTO support_request"}},
        {"zr2pgsql.sql",
         {"CREATE TABLE IF NOT EXISTS zr2_registry",
          "CREATE TABLE IF NOT EXISTS "
          "support_request",
          "INSERT INTO support_request"}},
        {"zr2mssql.sql",
         {"CREATE TABLE zr2_registry", "CREATE TABLE support_request",
          "INSERT INTO support_request"}},
        {"zr2sybase.sql",
         {"CREATE TABLE zr2_registry", "CREATE TABLE support_request",
          "INSERT INTO support_request"}},
        {"zr2oracle.sql",
         {"CREATE TABLE zr2_registry", "CREATE TABLE support_request",
          "CREATE SEQUENCE support_request_seq", "CREATE OR REPLACE TRIGGER",
          "INSERT INTO support_request"}},
    };
    for (const Case& c : cases) {
        std::string text;
        std::string error;
        ASSERT_TRUE(
            LoadSqlScript(std::string(VELMORIN_SOURCE_ROOT) + "/data/" + c.file, text, error))
            << error;
        const Statements statements = SplitSqlScript(text);
        ASSERT_EQ(statements.size(), c.starts.size()) << c.file;
        for (size_t i = 0; i < statements.size(); ++i) {
            EXPECT_TRUE(statements[i].starts_with(c.starts[i])) << c.file << ": " << statements[i];
            EXPECT_EQ(statements[i].find("--"), std::string::npos) << c.file;
            EXPECT_EQ(statements[i].find('\r'), std::string::npos) << c.file;
        }
        // Every registry table has the three key columns and the value.
        EXPECT_NE(statements[0].find("PRIMARY KEY (reg_user, reg_section, reg_key)"),
                  std::string::npos)
            << c.file;
    }
}

TEST(SqlScript, LoadNamesTheFileItCouldNotOpen) {
    CTempFolder folder;
    std::string text;
    std::string error;
    EXPECT_FALSE(LoadSqlScript(folder.File("chosen.sql"), text, error));
    EXPECT_EQ(error, "Failed to open file: " + folder.File("chosen.sql"));
    ASSERT_TRUE(WriteFile(folder.File("chosen.sql"), "SELECT 1;\r\n"));
    EXPECT_TRUE(LoadSqlScript(folder.File("chosen.sql"), text, error));
    EXPECT_EQ(text, "SELECT 1;\r\n");
}

}  // namespace
