#include "engine/data/DatabaseFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/data/DataSource.h"
#include "engine/data/DynBindSet.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/SspException.h"
#include "engine/testsupport/TestBackends.h"

namespace {

const std::string kFile("PDF\0\x01\xff bytes", 12);

class DatabaseFileTest : public ::testing::TestWithParam<CTestBackend::Kind> {
protected:
    void SetUp() override {
        std::string connect, why;
        if (!CTestBackend::Connect(GetParam(), "files", &connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_ds = std::make_unique<CDataSource>(connect);
        Exec("DROP TABLE IF EXISTS att");
        Exec(std::string("CREATE TABLE att (attid INTEGER, attdata ") +
             (GetParam() == CTestBackend::kSqlite ? "BLOB" : "BYTEA") + ", name VARCHAR(20))");
        for (int id : {0, 5, 6}) {
            CDynBindSet set(&m_ds->Connection());
            set.AddTable("att");
            set.AddColumn("attid");
            set.AddColumn("attdata");
            set.AddColumn("name");
            ASSERT_TRUE(set.OpenForInsert(m_ds->GetDbmsName()));
            set.AddNewRow();
            set.SetColumnValue(0, CSspValue::FromInteger(id));
            set.SetColumnValue(1, CSspValue::FromBinary(id == 6 ? "" : id ? kFile : "zero"));
            set.SetColumnValue(2, CSspValue::FromText("report.pdf"));
            ASSERT_TRUE(set.UpdateNewRow());
        }
    }
    void Exec(const std::string& sql) { m_ds->DoCommand("ExecuteSQL", sql.c_str()); }
    // The bytes sent, or the error text.
    std::string Send(const std::string& url, bool encrypted) {
        std::string sent;
        auto write = [&](const void* data, size_t n) {
            sent.append(static_cast<const char*>(data), n);
        };
        // A token "table-key-check-data" whose check "ok5" passes for record 5 and "old" is a
        // genuine token gone stale; the names are whatever the token says.
        auto decode = [](const std::string& token, DatabaseFile::CTokenRow& row) {
            std::string text = token;
            SwapCharPairs(text);
            std::string decoded(text.size() + 1, '\0');
            long count = 0;
            Base64Decode(text.c_str(), decoded.data(), static_cast<long>(decoded.size()), count,
                         true);
            decoded.resize(count > 0 ? static_cast<size_t>(count) : 0);
            std::vector<std::string> parts(1);
            for (char c : decoded) {
                if (c == '-') {
                    parts.emplace_back();
                } else {
                    parts.back().push_back(c);
                }
            }
            parts.resize(std::max<size_t>(parts.size(), 4));
            row = {parts[0], parts[1], parts[3], 5};
            return parts[2] == "ok5"   ? DatabaseFile::ETokenCheck::kGenuine
                   : parts[2] == "old" ? DatabaseFile::ETokenCheck::kStale
                                       : DatabaseFile::ETokenCheck::kForged;
        };
        try {
            DatabaseFile::SendFileFromUrl(*m_ds, url, encrypted, write, decode);
        } catch (const CSspException& e) {
            EXPECT_EQ(sent, "") << "nothing is sent before a failure is known";
            return "error: " + e.Message();
        }
        return sent;
    }
    static std::string Token(const std::string& text) {
        std::string token;
        Base64EncodeText(text.c_str(), token);
        SwapCharPairs(token);
        return token;
    }

    std::unique_ptr<CDataSource> m_ds;
};

TEST_P(DatabaseFileTest, PlainUrls) {
    struct Case {
        const char* url;
        std::string result;
    } cases[] = {
        {"/files/FileDB/att/attid/5/attdata/report.pdf", kFile},
        {"/FILEDB/att/attid/5/attdata", kFile},
        {"/filedb/att/attid/abc/attdata/x.bin", "zero"},  // no number reads id 0
        {"/filedb/att/attid//attdata", "error: Missing primary key value in attachment URL."},
        {"/filedb//attid/5/attdata", "error: Missing table name in attachment URL"},
        {"/filedb/att//5/attdata", "error: Missing primary key column in attachment URL."},
        {"/filedb/att/attid/5", "error: Missing attachment data column in URL."},
        {"/filedb/att/attid/9/attdata", "error: The attachment has already been deleted"},
        {"/filedb/att/attid/6/attdata",
         "error: Please specify the column where the file is "
         "stored."},
        {"/filedb/att/attid/5/name", "error: Please specify the column where the file is stored."},
        {"/filedb/att;drop table att/attid/5/attdata",
         "error: Invalid name in attachment URL: att;drop table att"},
        {"/filedb/att/attid=attid or 1/5/attdata",
         "error: Invalid name in attachment URL: attid=attid or 1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Send(c.url, false), c.result) << c.url;
    }
    std::string wrongMode = Send("/fileInDB/" + Token("att-attid-ok5-attdata") + "/r.pdf", false);
    EXPECT_EQ(wrongMode.rfind("error: The server expects an non-encrypted attachment file URL.", 0),
              0u);
}

TEST_P(DatabaseFileTest, EncryptedUrls) {
    EXPECT_EQ(Send("/app/fileInDB/" + Token("att-attid-ok5-attdata") + "/report.pdf", true), kFile);
    // A token that is not genuine gets the missing row's answer; only a genuine one that went
    // stale asks for a refresh.
    EXPECT_EQ(Send("/app/fileInDB/" + Token("att-attid-bad-attdata") + "/report.pdf", true),
              "error: The attachment has already been deleted");
    EXPECT_EQ(Send("/app/fileInDB/" + Token("att-attid-old-attdata") + "/report.pdf", true),
              "error: Invalid file attachment ID. Please go back to the web page that contains "
              "this link, refresh it and then try again. ");
    std::string plain = Send("/FILEDB/att/attid/5/attdata/x.bin", true);
    EXPECT_EQ(plain.rfind("error: The server expects an encrypted attachment file URL.", 0), 0u);
}

// The key column bound twice once crashed the server: such URLs, tokens with parts missing,
// and the database's own catalogue (which holds every CREATE TABLE text) or a name reaching
// into another schema are answered as a missing row before any SQL runs, even from a genuine
// token.
TEST_P(DatabaseFileTest, ForgedColumnsAreANotFoundRow) {
    const std::string notFound = "error: The attachment has already been deleted";
    struct Case {
        std::string url;
        bool encrypted;
    } cases[] = {
        {"/x/FileDB/att/attid/5/attid/a.bin", false},
        {"/x/FileDB/att/attid/5/ATTID/a.bin", false},
        {"/x/FileDB/att/AttId/5/att.attid/a.bin", false},
        {"/x/FileDB/att/att.attid/5/attid/a.bin", false},
        {"/x/fileInDB/" + Token("att-attid-ok5-AttID") + "/a.bin", true},
        {"/x/fileInDB/" + Token("att-attid-ok5") + "/a.bin", true},
        {"/x/fileInDB/" + Token("att--ok5-attdata") + "/a.bin", true},
        {"/x/FileDB/sqlite_master/rowid/1/sql/a.txt", false},
        {"/x/FileDB/SQLite_Schema/rowid/1/sql/a.txt", false},
        {"/x/FileDB/main.att/attid/5/attdata/a.bin", false},
        {"/x/FileDB/pg_catalog.pg_authid/oid/10/rolpassword/a.txt", false},
        {"/x/FileDB/pg_authid/oid/10/rolpassword/a.txt", false},
        {"/x/FileDB/information_schema.tables/oid/1/table_name/a.txt", false},
        {"/x/FileDB/INFORMATION_SCHEMA_tables/oid/1/table_name/a.txt", false},
        {"/x/fileInDB/" + Token("sqlite_master-rowid-ok5-sql") + "/a.txt", true},
        {"/x/fileInDB/" + Token("main.att-attid-ok5-attdata") + "/a.bin", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Send(c.url, c.encrypted), notFound) << c.url;
    }
    // The same data source still serves.
    EXPECT_EQ(Send("/FILEDB/att/attid/5/attdata", false), kFile);
}

INSTANTIATE_TEST_SUITE_P(Drivers, DatabaseFileTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });

}  // namespace
