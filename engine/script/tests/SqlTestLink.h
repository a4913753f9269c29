// A server link over one embedded SQLite database, so pages can run sql statements through
// the harness as they would under the server context.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/data/DataSource.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspServerLink.h"

namespace sqltest {

namespace fs = std::filesystem;

inline const char kSqliteDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

class CTestLink : public CSspServerLink {
public:
    explicit CTestLink(const std::string& database)
        : m_source("DRIVER=" + std::string(kSqliteDriver) + ";Database=" + database) {}

    CDataSource* AcquireDataSource(const std::string&) override {
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
    int m_acquired = 0;
    int m_released = 0;
    std::string m_registered;
};

class SqlDeclarationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kSqliteDriver)) {
            GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
        }
        m_db = (fs::temp_directory_path() / ("ssp-sql-" + std::to_string(::getpid()) + ".db"))
                   .string();
        fs::remove(m_db);
        m_link = std::make_unique<CTestLink>(m_db);
        CSspServerLink::Install(m_link.get());
    }
    void TearDown() override {
        CSspServerLink::Install(nullptr);
        m_link.reset();
        if (!m_db.empty()) {
            fs::remove(m_db);
        }
    }

    std::string m_db;
    std::unique_ptr<CTestLink> m_link;
};

}  // namespace sqltest
