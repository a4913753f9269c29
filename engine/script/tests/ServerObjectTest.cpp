#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspResponseObject.h"
#include "engine/script/SspServerLink.h"
#include "engine/script/SspServerObject.h"
#include "engine/script/tests/BuiltinCall.h"

using builtin_test::Int;
using builtin_test::Prepare;
using builtin_test::Text;

namespace {

class FakeResponse : public CSspResponseObject {
public:
    void WriteText(std::string_view) override {}
    void WriteValue(const CSspValue&) override {}
    void CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) override {
        m_members += call.m_strMember + ";";
        result = CSspValue::FromText("from response");
    }
    std::string m_members;
};

// Answers the server context's members by echoing the member name.
class FakeLink : public CSspServerLink {
public:
    CDataSource* AcquireDataSource(const std::string& url) override {
        m_acquiredFor += url + ";";
        return m_pSource;
    }
    void ReleaseDataSource(CDataSource*) override {}
    void SetDataSource(const std::string&, const std::string&) override {}
    void DataSourceCommand(CDataSource*, std::string_view) override {}
    bool InTransaction(CDataSource*) override { return false; }
    std::string DbmsName(CDataSource*) override { return std::string(); }
    std::string DbmsVersion(CDataSource*) override { return std::string(); }
    int GetUniqueId(CDataSource* source, const std::string& table, const std::string& column,
                    const std::string& registry) override {
        EXPECT_EQ(source, m_pSource);
        m_uniqueIds += table + "," + column + "," + registry + ";";
        return ++m_lastId;
    }
    void CallServerMember(CSspInterpreter&, CSspCall& call, CSspValue& result) override {
        m_members += call.m_strMember + ";";
        result = CSspValue::FromText("context " + call.m_strMember);
    }
    std::string m_members;
    std::string m_acquiredFor;
    std::string m_uniqueIds;
    CDataSource* m_pSource = nullptr;
    int m_lastId = 99;
};

class ServerObject : public ::testing::Test {
protected:
    void TearDown() override { CSspServerLink::Install(nullptr); }

    CSspValue Run(std::string_view member, std::initializer_list<CSspValue> args = {}) {
        CSspCall call;
        Prepare(call, "Server", member, args);
        CSspValue result = Text("untouched");
        g_sspServer.CallMethod(m_interp, call, result);
        return result;
    }

    std::string Error(std::string_view member, std::initializer_list<CSspValue> args = {}) {
        try {
            Run(member, args);
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Position(), builtin_test::kSource);
            return e.Message();
        }
        ADD_FAILURE() << member << " raised no error";
        return std::string();
    }

    CSspInterpreter m_interp;
};

TEST_F(ServerObject, CurrentUrlAndFolderComeFromTheRun) {
    m_interp.m_strUrl = "/app/page.zrp";
    m_interp.m_strUrlFolder = "/app/";
    EXPECT_EQ(Run("CurrentUrl").GetText(), "/app/page.zrp");
    EXPECT_EQ(Run("currenturlpath").GetText(), "/app/");
    EXPECT_EQ(Run("CurrentUrl").m_type, kSqlVarChar);
}

TEST_F(ServerObject, ErrorGoesToTheResponseWhenThereIsOne) {
    EXPECT_EQ(Run("error", {Text("x")}).GetText(), "untouched");
    FakeResponse response;
    m_interp.m_pResponse = &response;
    EXPECT_EQ(Run("Error", {Text("x")}).GetText(), "from response");
    EXPECT_EQ(response.m_members, "Error;");
    m_interp.m_pResponse = nullptr;
}

TEST_F(ServerObject, OtherMembersGoToTheServerContext) {
    EXPECT_EQ(Error("AdminEmail"), CSspServerObject::kServerNotAvailable);
    FakeLink link;
    CSspServerLink::Install(&link);
    EXPECT_EQ(Run("AdminEmail").GetText(), "context AdminEmail");
    EXPECT_EQ(Run("UseDataSource", {Text("ODBC;DSN=x")}).GetText(), "context UseDataSource");
    EXPECT_EQ(link.m_members, "AdminEmail;UseDataSource;");
}

// UseDataSource does its work first, then refuses when the run already uses a data source.
TEST_F(ServerObject, LateUseDataSourceIsRefusedAfterItsWork) {
    FakeLink link;
    CSspServerLink::Install(&link);
    alignas(8) static char fakeSource[8];
    m_interp.m_pDataSource = reinterpret_cast<CDataSource*>(fakeSource);
    EXPECT_EQ(Error("usedatasource", {Text("ODBC;DSN=x")}),
              "UseDataSource can only be called before all SQL related statements.");
    EXPECT_EQ(link.m_members, "usedatasource;");
    EXPECT_EQ(Run("AdminEmail").GetText(), "context AdminEmail");
    m_interp.m_pDataSource = nullptr;
}

TEST_F(ServerObject, UniqueIdNeedsTableAndColumn) {
    EXPECT_EQ(Error("GetUniqueID"), "Missing parameter.");
    EXPECT_EQ(Error("GetUniqueID", {Text("tickets")}), "Missing parameter.");
    EXPECT_EQ(Error("GetUniqueID", {Text(""), Text("id")}), "Missing parameter.");
    EXPECT_EQ(Error("GetUniqueID", {Text("tickets"), Text("")}), "Missing parameter.");
}

TEST_F(ServerObject, UniqueIdComesFromTheRunsDataSource) {
    FakeLink link;
    CSspServerLink::Install(&link);
    m_interp.m_strUrl = "/app/page.zrp";
    EXPECT_EQ(Error("GetUniqueID", {Text("tickets"), Text("id")}),
              "Internal error. No data source is defined. ");

    alignas(8) static char fakeSource[8];
    link.m_pSource = reinterpret_cast<CDataSource*>(fakeSource);
    CSspValue first = Run("GetUniqueID", {Text("tickets"), Text("id")});
    EXPECT_EQ(first.m_type, kSqlInteger);
    EXPECT_EQ(first.m_integer, 100);
    // A registry table is taken only from exactly three arguments.
    EXPECT_EQ(Run("GetUniqueID", {Text("tickets"), Text("id"), Text("MY_REG")}).m_integer, 101);
    Run("GetUniqueID", {Text("tickets"), Text("id"), Text("MY_REG"), Text("extra")});
    // Names written as literals reach the call with their quotes.
    Run("GetUniqueID", {Text("'tickets'"), Text("'id'"), Text("'MY_REG'")});
    EXPECT_EQ(link.m_uniqueIds,
              "tickets,id,zr2_registry;tickets,id,MY_REG;tickets,id,zr2_registry;"
              "tickets,id,MY_REG;");
    EXPECT_EQ(Error("GetUniqueID", {Text("''"), Text("id")}), "Missing parameter.");
    // The run keeps the data source it acquired.
    EXPECT_EQ(link.m_acquiredFor, "/app/page.zrp;/app/page.zrp;");
}

}  // namespace
