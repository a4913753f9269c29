// A server link over one embedded SQLite database, so pages can run sql statements through
// the harness as they would under the server context.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/data/DataSource.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspServerLink.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/TempFolder.h"

namespace sqltest {

namespace fs = std::filesystem;

class CTestLink : public CSspServerLink {
public:
    explicit CTestLink(const std::string& database)
        : m_source("DRIVER=" + std::string(COdbcTestEnv::SqliteDriver()) +
                   ";Database=" + database) {}

    CDataSource* AcquireDataSource(const std::string&) override {
        if (!m_bHasSource) {
            return nullptr;
        }
        ++m_acquired;
        return &m_source;
    }
    void ReleaseDataSource(CDataSource*) override { ++m_released; }
    void SetDataSource(const std::string& url, const std::string& connection) override {
        m_registered = url + " -> " + connection;
    }
    void DataSourceCommand(CDataSource* source, std::string_view command) override {
        source->DoCommand(std::string(command).c_str());
    }
    bool InTransaction(CDataSource* source) override { return source->InTransaction(); }
    std::string DbmsName(CDataSource* source) override { return source->GetDbmsName(); }
    std::string DbmsVersion(CDataSource* source) override { return source->GetDbmsVersion(); }
    int GetUniqueId(CDataSource* source, const std::string& table, const std::string& column,
                    const std::string& registry) override {
        return source->DoCommand("GetUid", table.c_str(), column.c_str(), registry.c_str());
    }
    void CallServerMember(CSspInterpreter&, CSspCall&, CSspValue&) override {}

    CDataSource m_source;
    bool m_bHasSource = true;  // false: the runs have no data source
    // Runs on other threads count too.
    std::atomic<int> m_acquired{0};
    std::atomic<int> m_released{0};
    std::string m_registered;
};

// Installs a TLink over a fresh SQLite database file for each test.
template <class TLink>
class CSqliteLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!COdbcTestEnv::HaveSqliteDriver()) {
            GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
        }
        m_db = m_folder.File("test.db");
        m_link = std::make_unique<TLink>(m_db);
        CSspServerLink::Install(m_link.get());
    }
    void TearDown() override {
        CSspServerLink::Install(nullptr);
        m_link.reset();
    }

    CTempFolder m_folder;
    std::string m_db;
    std::unique_ptr<TLink> m_link;
};

using SqlDeclarationTest = CSqliteLinkTest<CTestLink>;

}  // namespace sqltest
