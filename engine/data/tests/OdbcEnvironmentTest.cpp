#include "engine/data/OdbcEnvironment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace {

// ODBCINI and ODBCSYSINI as they were before the test.
class OdbcEnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_ini = Get("ODBCINI");
        m_sysIni = Get("ODBCSYSINI");
    }
    void TearDown() override {
        Put("ODBCINI", m_ini);
        Put("ODBCSYSINI", m_sysIni);
    }
    static std::optional<std::string> Get(const char* name) {
        const char* value = ::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void Put(const char* name, const std::optional<std::string>& value) {
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }

    std::optional<std::string> m_ini;
    std::optional<std::string> m_sysIni;
};

TEST_F(OdbcEnvironmentTest, PointsOdbcIniAtTheRootUnlessOneIsChosenAndLeavesTheDriversAlone) {
    struct Case {
        std::optional<std::string> m_before;
        std::string m_after;
    };
    for (const Case& c :
         {Case{std::nullopt, "/srv/velmorin/etc/odbc.ini"}, Case{"", "/srv/velmorin/etc/odbc.ini"},
          Case{"/home/admin/my.ini", "/home/admin/my.ini"}}) {
        Put("ODBCINI", c.m_before);
        Put("ODBCSYSINI", std::nullopt);
        UseInstallationOdbcIni("/srv/velmorin");
        EXPECT_EQ(Get("ODBCINI"), c.m_after);
        EXPECT_EQ(Get("ODBCSYSINI"), std::nullopt);
    }
}

}  // namespace
