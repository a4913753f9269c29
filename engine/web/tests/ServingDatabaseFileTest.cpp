// Files stored in the database, served over HTTP from plain and encrypted attachment URLs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/data/DataSource.h"
#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/Base64.h"
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

CFileIdToken TokenOf(const std::string& url) {
    const size_t start = url.find("fileInDB/") + 9;
    return SplitFileIdToken(url.substr(start, url.rfind('/') - start));
}

// The URL of a token with these fields, as anyone can encode it; without the mac when it is
// empty.
std::string UrlOf(const CFileIdToken& f) {
    std::string text = f.m_table + "-" + f.m_keyColumn + "-" + f.m_checkAndBody + "-" +
                       f.m_dataColumn + (f.m_mac.empty() ? "" : "-" + f.m_mac);
    std::string coded;
    Base64Encode(text.data(), text.size(), coded);
    std::string token = WithoutLineBreaks(coded);
    SwapCharPairs(token);
    return "/app/fileInDB/" + token + "/r.pdf";
}

// Check digits and body for record 5 with the given server number and time text, as the
// digits' public rule makes them.
std::string ForgedCheckAndBody(const CFileIdToken& f, int serverNumber, const std::string& time) {
    char number[8];
    std::snprintf(number, sizeof number, "%.4d", serverNumber);
    const std::string body = "5" + std::string(number) + time + "5";
    std::uint32_t sum1 = 0;
    std::uint32_t sum2 = 0;
    for (const std::string& part : {body, f.m_table, f.m_keyColumn, f.m_dataColumn}) {
        SumAlternateChars(part, sum1, sum2);
    }
    return std::string{static_cast<char>('0' + sum1 % 10), static_cast<char>('0' + sum2 % 10)} +
           body;
}

// Anything the attacker can make without the key gets, byte for byte, the answer of a
// genuine token whose row is missing; the genuine token still serves.
TEST_F(ServingDatabaseFileTest, ForgedTokensGetExactlyTheAnswerOfAMissingRow) {
    g_settings.EncryptFileID = true;
    {
        CDataSource ds(g_settings.DbOdbcConnectString.substr(5));
        ds.DoCommand(
            "ExecuteSQL",
            "CREATE TABLE vault (attid INTEGER, other INTEGER, attdata BLOB, secret BLOB)");
        ds.DoCommand("ExecuteSQL", "INSERT INTO vault VALUES (5, 7, X'5635', X'5335')");
        ds.DoCommand("ExecuteSQL", "INSERT INTO vault VALUES (9, 5, X'5639', X'5339')");
    }
    const std::string genuine = "/app/" + BuildFileIdUrl("att", "attid", "5", "attdata", "r.pdf");
    ASSERT_EQ(BodyOf(Get(genuine)), kStored);
    const std::string vault = "/app/" + BuildFileIdUrl("vault", "attid", "5", "attdata", "r.pdf");
    ASSERT_EQ(BodyOf(Get(vault)), "V5");
    const std::string missing =
        Get("/app/" + BuildFileIdUrl("att", "attid", "9", "attdata", "r.pdf"));
    ASSERT_NE(missing.find("The attachment has already been deleted"), std::string::npos)
        << missing;

    const CFileIdToken att = TokenOf(genuine);
    const CFileIdToken own = TokenOf(vault);
    std::vector<std::pair<std::string, std::string>> forged;
    auto add = [&](const char* label, CFileIdToken f) { forged.emplace_back(label, UrlOf(f)); };
    CFileIdToken f = att;
    f.m_table = "vault";
    add("genuine token replayed with another table", f);
    f = own;
    f.m_keyColumn = "other";
    add("genuine token replayed with another key column", f);
    f = own;
    f.m_dataColumn = "secret";
    add("genuine token replayed with another data column", f);
    f = own;
    f.m_dataColumn = "secret";
    f.m_checkAndBody = ForgedCheckAndBody(f, std::atoi(own.m_checkAndBody.substr(3, 4).c_str()),
                                          own.m_checkAndBody.substr(7, 5));
    add("another data column with its check digits recomputed", f);
    for (size_t i : {size_t{0}, own.m_mac.size() / 2, own.m_mac.size() - 1}) {
        f = own;
        f.m_mac[i] = f.m_mac[i] == '0' ? '1' : '0';
        add("a flipped mac digit", f);
    }
    f = own;
    f.m_mac.resize(own.m_mac.size() - 2);
    add("a truncated mac", f);
    f = own;
    f.m_mac.clear();
    add("no mac", f);
    const std::string whole = UrlOf(own);
    const size_t segmentEnd = whole.rfind('/');
    forged.emplace_back("a truncated token", whole.substr(0, segmentEnd - 6) + "/r.pdf");
    // Every server number, with check digits that fit it.
    const std::string time = own.m_checkAndBody.substr(7, 5);
    for (int number = 0; number <= 9999; ++number) {
        f = own;
        f.m_mac.clear();
        f.m_checkAndBody = ForgedCheckAndBody(own, number, time);
        add("server number", f);
    }

    // A few clients at once, as an attacker would send them.
    constexpr size_t kClients = 8;
    std::vector<std::string> firstDifference(kClients);
    std::vector<std::thread> clients;
    for (size_t c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (size_t i = c; i < forged.size(); i += kClients) {
                const std::string answer = Get(forged[i].second);
                if (answer != missing && firstDifference[c].empty()) {
                    firstDifference[c] = forged[i].first + " " + forged[i].second + ":\n" + answer;
                }
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    for (const std::string& difference : firstDifference) {
        EXPECT_EQ(difference, "");
    }
    EXPECT_EQ(BodyOf(Get(genuine)), kStored);
}

// The database's own catalogue is no attachment table, whichever form names it and even in a
// token the server made itself.
TEST_F(ServingDatabaseFileTest, TheCatalogueIsRefusedInBothForms) {
    const std::string notFound = "The attachment has already been deleted";
    struct Case {
        bool encrypted;
        std::string url;
    } cases[] = {
        {false, "/x/FileDB/sqlite_master/rowid/1/sql/a.txt"},
        {false, "/x/FileDB/main.att/attid/5/attdata/a.bin"},
        {false, "/x/FileDB/att/attid/5/main.attdata/a.bin"},
        {true, "/x/" + BuildFileIdUrl("sqlite_master", "rowid", "1", "sql", "a.txt")},
        {true, "/x/" + BuildFileIdUrl("main.att", "attid", "5", "attdata", "a.bin")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        g_settings.EncryptFileID = c.encrypted;
        const std::string answer = Get(c.url);
        EXPECT_NE(answer.find(notFound), std::string::npos) << answer;
        EXPECT_EQ(answer.find("CREATE TABLE"), std::string::npos) << answer;
        EXPECT_EQ(answer.find("PDF"), std::string::npos) << answer;
    }
}

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

    // The token's first character carries bits of the table name, which the mac covers.
    std::string tampered = url;
    size_t at = std::string("fileInDB/").size();
    tampered[at] = tampered[at] == 'Y' ? 'X' : 'Y';
    std::string refused = Get("/app/" + tampered);
    EXPECT_EQ(refused.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << refused;
    EXPECT_NE(refused.find("The attachment has already been deleted"), std::string::npos)
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
