// Drivers, data sources and their kinds in a private odbc.ini.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <odbcinst.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/DataSourceSetup.h"
#include "console/DataSources.h"
#include "console/tests/LiveZr2.h"
#include "engine/data/OdbcConnection.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/ScopedEnv.h"
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

// The console's own odbc.ini under a fresh root, as the program points ODBCINI there.
class InstallationIni : public ::testing::Test {
protected:
    void SetUp() override {
        COdbcTestEnv::Dir();
        std::filesystem::create_directories(m_root.File("etc"));
        m_env.Set("ODBCINI", Ini().c_str());
    }
    std::string Ini() const { return m_root.File("etc/odbc.ini"); }

    CTempFolder m_root;
    CScopedEnv m_env;
};

TEST_F(InstallationIni, ANameInUseIsNeverCreatedOverAndAReplaceKeepsWhatItDoesNotSet) {
    const std::string live = WriteLiveZr2(Ini(), "/srv/v/data/zr2.db");
    ASSERT_NE(live.find("JournalMode=WAL"), std::string::npos) << live;
    std::string error;
    EXPECT_FALSE(CreateDataSource("ZR2", "SQLite3", {{"Database", "/tmp/new.db"}}, error));
    EXPECT_EQ(error, "Data source ZR2 already exists.");
    EXPECT_FALSE(CreateDefaultDataSource(m_root.Path(), "zr2", error));
    EXPECT_EQ(ReadFile(Ini()), live);

    const struct {
        const char* driver;
        std::map<std::string, std::string> keys;
        std::map<std::string, std::string> after;
    } cases[] = {
        {"SQLite3",
         {{"Database", "/tmp/new.db"}},
         {{"Driver", "SQLite3"},
          {"Database", "/tmp/new.db"},
          {"Timeout", "10000"},
          {"JournalMode", "WAL"}}},
        {"PostgreSQL",
         {{"Database", "velmorin"}, {"Servername", "127.0.0.1"}},
         {{"Driver", "PostgreSQL"},
          {"Database", "velmorin"},
          {"Servername", "127.0.0.1"},
          {"Timeout", ""},
          {"JournalMode", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.driver);
        WriteLiveZr2(Ini(), "/srv/v/data/zr2.db");
        ASSERT_TRUE(ReplaceDataSource("zr2", c.driver, c.keys, error)) << error;
        for (const auto& [key, value] : c.after) {
            EXPECT_EQ(DataSourceAttribute("zr2", key), value) << key << "\n" << ReadFile(Ini());
        }
        EXPECT_TRUE(DataSourceExists("Zr2"));
    }
    EXPECT_FALSE(DataSourceExists("zr3"));
    WriteLiveZr2(Ini(), "/srv/v/data/zr2.db");
    EXPECT_TRUE(IsDefaultDataSource("/srv/v", "zr2"));
    EXPECT_FALSE(IsDefaultDataSource(m_root.Path(), "zr2"));
}

TEST(DataSourceNames, TheSuggestionIsNeverANameInUse) {
    const std::vector<CDataSourceEntry> sources = {
        {"zr2", "SQLite3"}, {"ZR2_2", "SQLite3"}, {"zr2_sql", "SQL Server"}, {"zr2_4", "x"}};
    const struct {
        const char* base;
        const char* suggested;
    } cases[] = {
        {"zr2", "zr2_3"},
        {"zr2_sql", "zr2_sql_2"},
        {"zr2_ora", "zr2_ora"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnusedDataSourceName(c.base, sources), c.suggested) << c.base;
    }
}

// Whether `nobody` can read the file (every folder above it open to all).
int NobodyReads(const std::string& path) {
    CChildOptions options;
    options.m_searchPath = true;
    options.m_stdout = CChildStream::Null();
    options.m_stderr = CChildStream::Null();
    return CChildProcess::Run({"runuser", "-u", "nobody", "--", "cat", path}, options);
}

TEST_F(InstallationIni, ANewIniIsPrivateToTheRootsGroupAndARewriteKeepsItsMode) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    const group* adm = ::getgrnam("adm");
    ASSERT_NE(adm, nullptr);
    ASSERT_EQ(::chown(m_root.Path().c_str(), 0, adm->gr_gid), 0);
    ASSERT_EQ(::chmod(m_root.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(m_root.File("etc").c_str(), 0755), 0);
    const mode_t umask = ::umask(022);
    std::string error;
    const bool created = CreateDataSource("secret", "PostgreSQL", {{"Password", "hunter2"}}, error);
    ::umask(umask);
    ASSERT_TRUE(created) << error;
    ASSERT_NE(ReadFile(Ini()).find("Password=hunter2"), std::string::npos);

    struct stat st {};
    ASSERT_EQ(::stat(Ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_gid, adm->gr_gid);
    EXPECT_NE(NobodyReads(Ini()), 0);
    // What lets nobody in when the mode does: a file of the same folder open to all.
    ASSERT_TRUE(WriteFile(m_root.File("etc/open.txt"), "x"));
    ASSERT_EQ(::chmod(m_root.File("etc/open.txt").c_str(), 0644), 0);
    EXPECT_EQ(NobodyReads(m_root.File("etc/open.txt")), 0);

    // An administrator's own choice survives a rewrite.
    ASSERT_EQ(::chown(Ini().c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(Ini().c_str(), 0600), 0);
    ASSERT_TRUE(ConfigureDataSource("secret", {{"Port", "5432"}}, error)) << error;
    EXPECT_EQ(DataSourceAttribute("secret", "Port"), "5432");
    ASSERT_EQ(::stat(Ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_gid, 0u);
}

}  // namespace
