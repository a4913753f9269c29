// Drivers, data sources and their kinds in a private odbc.ini.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/DataSourceSetup.h"
#include "console/DataSources.h"
#include "engine/data/OdbcConnection.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// Every case works in the private ini files, never the user's own.
class DataSources : public ::testing::Test {
protected:
    void SetUp() override { COdbcTestEnv::Dir(); }
};

TEST_F(DataSources, KindsFromDriversAndDataSources) {
    struct Case {
        const char* driver;
        const char* kind;
    } drivers[] = {
        {"SQL Server", "Mssql"},
        {"SQLite3", "Sqlite"},
        {"PostgreSQL Unicode", "Postgres"},
        {"Foo", ""},
        {"Oracle in OraClient", "Oracle"},
        {"Adaptive Server Enterprise Sybase", "Sybase"},
        {"Microsoft Access Driver (*.mdb)", "Access"},
    };
    for (const Case& c : drivers) {
        EXPECT_EQ(DriverKind(c.driver), c.kind) << c.driver;
    }

    COdbcTestEnv::AddDsn("kindlite", {{"Driver", "SQLite3"}, {"Database", "/tmp/x.db"}});
    COdbcTestEnv::AddDsn("kindpath", {{"Driver", COdbcTestEnv::SqliteDriver()}});
    COdbcTestEnv::AddDsn("kindpg", {{"Driver", "PostgreSQL"}});
    COdbcTestEnv::AddDsn("kindfoo", {{"Driver", "Foo"}});
    EXPECT_EQ(GetDsnKind("kindlite"), "Sqlite");
    EXPECT_EQ(GetDsnKind("  KINDLITE "), "Sqlite");
    EXPECT_EQ(GetDsnKind("kindpath"), "Sqlite");  // a library path names its driver
    EXPECT_EQ(GetDsnKind("kindpg"), "Postgres");
    EXPECT_EQ(GetDsnKind("kindfoo"), "");
    EXPECT_EQ(GetDsnKind("missing"), "");

    std::vector<CDataSourceEntry> sources;
    std::string error;
    ASSERT_TRUE(ListDataSources(sources, error)) << error;
    bool mapped = false;
    for (const CDataSourceEntry& s : sources) {
        mapped = mapped || (s.m_name == "kindpath" && s.m_driver == "SQLite3");
    }
    EXPECT_TRUE(mapped);
    std::vector<std::string> names;
    ASSERT_TRUE(ListDrivers(names, error)) << error;
    EXPECT_NE(std::find(names.begin(), names.end(), "SQLite3"), names.end());
}

TEST_F(DataSources, DatabaseFileOfAConnectionString) {
    COdbcTestEnv::AddDsn("filelite", {{"Driver", "SQLite3"}, {"Database", "/srv/v/data/zr2.db"}});
    COdbcTestEnv::AddDsn("filepg", {{"Driver", "PostgreSQL"}, {"Database", "velmorin"}});
    struct Case {
        const char* connect;
        const char* file;
    } cases[] = {
        {"ODBC;DSN=filepg;DBQ=/a/b.mdb", "/a/b.mdb"},
        {"ODBC;DSN=filelite;", "/srv/v/data/zr2.db"},
        {"DSN=filelite;Database=/other.db", "/other.db"},
        {"ODBC;DSN=filepg;", ""},
        {"ODBC;DSN=nosuch;", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DataSourceFile(c.connect), c.file) << c.connect;
    }
}

TEST_F(DataSources, SuggestedNamesAndTheLengthRule) {
    EXPECT_EQ(SuggestedDsnAttribute("zr2", "SQL Server"), "DSN=zr2_sql");
    EXPECT_EQ(SuggestedDsnAttribute("zr2", "Sybase ASE"), "DSN=zr2_syb");
    EXPECT_EQ(SuggestedDsnAttribute("zr2", "Oracle 19"), "DSN=zr2_ora");
    EXPECT_EQ(SuggestedDsnAttribute("zr2", "SQLite3"), "DSN=zr2");

    std::string error;
    EXPECT_FALSE(CreateDataSource(std::string(247, 'n'), "SQLite3", {}, error));
    EXPECT_EQ(error, "Data source name can not be longer than 250.");
    error.clear();
    EXPECT_TRUE(CreateDataSource("shortname", "SQLite3", {{"Database", "/tmp/s.db"}}, error))
        << error;
    EXPECT_EQ(DataSourceAttribute("shortname", "Database"), "/tmp/s.db");
    EXPECT_TRUE(ConfigureDataSource("shortname", {{"Database", ""}}, error)) << error;
    EXPECT_EQ(DataSourceAttribute("shortname", "Database"), "");
}

TEST(DataSourceDialog, TitlesNewEntriesAndConfigure) {
    EXPECT_EQ(DataSourceDialogTitle("", ""), "Create data source");
    EXPECT_EQ(DataSourceDialogTitle("", "zr2"), "Create data source");
    EXPECT_EQ(DataSourceDialogTitle("zr2", "zr2"), "Change data source");
    EXPECT_EQ(DataSourceDialogTitle("zr2", ""), "Set up data source");

    const std::vector<CDataSourceEntry> before = {{"a", "SQLite3"}, {"b", "PostgreSQL"}};
    const std::vector<CDataSourceEntry> after = {
        {"a", "SQLite3"}, {"c", "SQLite3"}, {"b", "PostgreSQL"}, {"d", "SQLite3"}};
    EXPECT_EQ(FindNewDataSource(before, after), "c");
    EXPECT_EQ(FindNewDataSource(after, before), "");

    std::string driver;
    std::string error;
    EXPECT_TRUE(DriverForConfigure("  B ", after, driver, error));
    EXPECT_EQ(driver, "PostgreSQL");
    EXPECT_FALSE(DriverForConfigure(" zz ", after, driver, error));
    EXPECT_EQ(error,
              "System did not find zz\nPlease configue it through Control Panel, ODBC "
              "administrator");
}

TEST_F(DataSources, CreateDefaultWritesTheRootsDatabase) {
    CTempFolder root;
    std::filesystem::create_directories(root.File("data"));
    std::string error;
    ASSERT_TRUE(CreateDefaultDataSource(root.Path(), "zr2", error)) << error;
    const std::string ini = ReadFile(COdbcTestEnv::Dir() + "/odbc.ini");
    const size_t at = ini.find("[zr2]");
    ASSERT_NE(at, std::string::npos) << ini;
    const std::string section = ini.substr(at, ini.find("\n[", at + 1) - at);
    EXPECT_NE(section.find("Driver=SQLite3"), std::string::npos) << section;
    EXPECT_NE(section.find("Database=" + root.File("data/zr2.db")), std::string::npos) << section;
    EXPECT_EQ(GetDsnKind("zr2"), "Sqlite");
    EXPECT_EQ(DataSourceFile("ODBC;DSN=zr2"), root.File("data/zr2.db"));

    COdbcConnection db;
    db.Open("DSN=zr2");
    db.ExecuteSQL("CREATE TABLE t (x INTEGER)");
    db.Close();
    EXPECT_TRUE(Exists(root.File("data/zr2.db")));
}

}  // namespace
