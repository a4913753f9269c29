// Files stored in the database, served over HTTP from plain and encrypted attachment URLs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/data/DataSource.h"
#include "engine/script/FileIdUrl.h"
#include "engine/script/SspToCipher.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"
#include "engine/web/tests/ServingTestSupport.h"

namespace serving_test {
namespace {

const char* const kSqliteDriver = COdbcTestEnv::SqliteDriver();
const std::string kStored("PDF\0\x01\xff", 6);

class ServingDatabaseFileTest : public ServingTest {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kSqliteDriver)) {
            GTEST_SKIP() << "no SQLite ODBC driver";
        }
        ServingTest::SetUp();
        InstallSspToCipher();
        const std::string connect =
            std::string("DRIVER=") + kSqliteDriver + ";Database=" + m_root + "/files.db";
        {
            CDataSource ds(connect);
            ds.DoCommand("ExecuteSQL",
                         "CREATE TABLE att (attid INTEGER, attdata BLOB, name VARCHAR(20))");
            ds.DoCommand("ExecuteSQL", "INSERT INTO att VALUES (5, X'5044460001FF', 'r.pdf')");
        }
        g_settings.DbOdbcConnectString = "ODBC;" + connect;
        g_serverContext.Clear();
        g_serverContext.InitDefaultDataSource();
        m_link = std::make_unique<CServerContextLink>(g_serverContext);
        CServerContextLink::InstallFor(m_link.get());
    }
    void TearDown() override {
        if (m_link) {
            ServingTest::TearDown();
            CServerContextLink::Uninstall();
            m_link.reset();
            g_serverContext.Clear();
            g_settings.EncryptFileID = true;
        }
    }

    std::unique_ptr<CServerContextLink> m_link;
};

TEST_F(ServingDatabaseFileTest, EncryptedUrlServesTheStoredBytesUntilTampered) {
    g_settings.EncryptFileID = true;
    WriteFile("app/list.zrp", "--{ To.fileUrl('att', 'attid', 5, 'attdata', 'r.pdf'); }--");
    std::string url = BodyOf(Get("/app/list.zrp"));
    ASSERT_EQ(url.rfind("fileInDB/", 0), 0u) << url;
    ASSERT_EQ(url.find_first_of("\r\n"), std::string::npos) << "one line, however long";

    std::string answer = Get("/app/" + url);
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Type: application/pdf"), std::string::npos) << answer;
    EXPECT_EQ(BodyOf(answer), kStored);

    // The token's first character carries bits of the table name, which the check digits
    // cover.
    std::string tampered = url;
    size_t at = std::string("fileInDB/").size();
    tampered[at] = tampered[at] == 'Y' ? 'X' : 'Y';
    std::string refused = Get("/app/" + tampered);
    EXPECT_EQ(refused.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << refused;
    EXPECT_NE(refused.find("Invalid file attachment ID. Please go back to the web page"),
              std::string::npos)
        << refused;
    EXPECT_EQ(refused.find("PDF"), std::string::npos);

    // The plain form is not accepted in this mode.
    EXPECT_NE(Get("/FileDB/att/attid/5/attdata/r.pdf").find("The server expects an encrypted"),
              std::string::npos);
}

TEST_F(ServingDatabaseFileTest, PlainUrlsServeRowsAndRefuseNamesThatAreNoIdentifiers) {
    g_settings.EncryptFileID = false;
    std::string answer = Get("/files/FILEDB/att/attid/5/attdata/report.bin");
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
    EXPECT_EQ(BodyOf(answer), kStored);
    EXPECT_EQ(std::filesystem::exists(m_root + "/tmp"), true);

    struct Case {
        const char* url;
        const char* text;
    } cases[] = {
        {"/filedb/t;x/id/5/data", "Invalid name in attachment URL: t;x"},
        {"/filedb/att/attid;1=1/5/attdata", "Invalid name in attachment URL: attid;1=1"},
        {"/filedb/att/attid//attdata", "Missing primary key value in attachment URL."},
        {"/filedb/att/attid/6/attdata", "The attachment has already been deleted"},
        {"/filedb/att/attid/5/name", "Please specify the column where the file is stored."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string refused = Get(c.url);
        EXPECT_EQ(refused.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << refused;
        EXPECT_NE(refused.find(c.text), std::string::npos) << refused;
        // A name refused before any SQL never reaches the driver's error texts.
        EXPECT_EQ(refused.find("ODBC data source used"), std::string::npos) << refused;
    }
    // Nothing that was refused touched the table.
    EXPECT_EQ(BodyOf(Get("/filedb/att/attid/5/attdata/again.bin")), kStored);
}

TEST_F(ServingDatabaseFileTest, ForgedColumnNamesAreNotFoundAndTheServerGoesOn) {
    // The key column named again as the data column; anyone can make such a token.
    struct Case {
        bool encrypted;
        std::string url;
    } cases[] = {
        {false, "/x/FileDB/att/attid/5/attid/a.bin"},
        {false, "/x/FileDB/att/attid/5/AttId/a.bin"},
        {true, "/x/" + BuildFileIdUrl("att", "attid", "5", "ATTID", "a.bin")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        g_settings.EncryptFileID = c.encrypted;
        std::string answer = Get(c.url);
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
        EXPECT_NE(answer.find("The attachment has already been deleted"), std::string::npos)
            << answer;
        EXPECT_EQ(answer.find("ODBC data source used"), std::string::npos) << answer;
        std::string good = c.encrypted
                               ? "/x/" + BuildFileIdUrl("att", "attid", "5", "attdata", "r.pdf")
                               : "/x/FileDB/att/attid/5/attdata/r.pdf";
        EXPECT_EQ(BodyOf(Get(good)), kStored);
    }
}

}  // namespace
}  // namespace serving_test
