#include "engine/settings/SettingRow.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <type_traits>

#include "engine/foundation/AsciiText.h"
#include "engine/settings/tests/SettingsTestSupport.h"

namespace {

std::string Label(const SettingRow& row) {
    if (row.IsValue()) {
        return row.m_name;
    }
    return row.m_kind == SettingKind::kTaskTable ? "task table" : "MIME map";
}

CSettingsValues StoredValues(const TempRoot& root) {
    CSettingsValues values;
    std::string error;
    EXPECT_TRUE(CSettingsStore(CSettingsStore::PathUnderRoot(root.Path())).Read(values, error))
        << error;
    return values;
}

// The names whose stored values differ between two readings of the store, in lower case.
std::set<std::string> ChangedNames(const CSettingsValues& before, const CSettingsValues& after) {
    std::set<std::string> names;
    for (const auto& [name, value] : after.Entries()) {
        const std::string* old = before.Find(name);
        if (old == nullptr || *old != value) {
            names.insert(AsciiLowerCopy(name));
        }
    }
    return names;
}

// Changes what the row describes, and nothing else; returns the names a save must write.
std::set<std::string> ChangeAlone(const SettingRow& row, CServerSettings& s) {
    if (row.m_kind == SettingKind::kTaskTable) {
        s.m_tasks[0].m_enabled = !s.m_tasks[0].m_enabled;
        s.m_tasksChanged = true;
        return {"task01enabled"};
    }
    if (row.m_kind == SettingKind::kMimeMap) {
        s.m_mimeMap.Set("zzz", "x/zzz");
        s.m_mimeChanged = true;
        return {"mimecount", "mime125fileextension", "mime125contenttype"};
    }
    std::visit(
        [&s](auto member) {
            using Member = decltype(member);
            if constexpr (std::is_same_v<Member, std::string CServerSettings::*>) {
                s.*member += "x";
            } else if constexpr (std::is_same_v<Member, int CServerSettings::*>) {
                s.*member += 7;
            } else if constexpr (std::is_same_v<Member, bool CServerSettings::*>) {
                s.*member = !(s.*member);
            }
        },
        row.m_member);
    if (row.m_use != SettingUse::kSaved) {
        return {};
    }
    return {AsciiLowerCopy(row.m_name)};
}

}  // namespace

TEST(SettingRowTest, EachStoredNameHasOneRow) {
    std::set<std::string> names;
    for (const SettingRow& row : ServerSettingRows()) {
        if (row.IsValue()) {
            EXPECT_TRUE(names.insert(AsciiLowerCopy(row.m_name)).second) << row.m_name;
            EXPECT_FALSE(std::holds_alternative<std::monostate>(row.m_member)) << row.m_name;
        }
    }
}

// Pins the file a save writes: which names, and in which order they are appended to a new store.
TEST(SettingRowTest, SaveAppendsTheManagedNamesInTheirOrder) {
    TempRoot root;
    auto settings = MakeSettings(root, SettingsBuild::kServer);
    ASSERT_TRUE(settings->Load());  // writes the default task rows and the link key first
    const std::optional<std::string> key = root.Stored("FileTokenKey");
    ASSERT_TRUE(key.has_value());
    ASSERT_TRUE(settings->Save());
    EXPECT_EQ(root.Stored("FileTokenKey"), key);
    const CSettingsValues stored = StoredValues(root);
    std::vector<std::string> names;
    for (const auto& entry : stored.Entries()) {
        if (!entry.first.starts_with("Task") && !entry.first.starts_with("Mime0") &&
            !entry.first.starts_with("Mime1") && entry.first != "FileTokenKey") {
            names.push_back(entry.first);
        }
    }
    const std::vector<std::string> expected = {
        "SecurityCertName",
        "SecurityCertIssuer",
        "SecurityCertSerial",
        "SecurityCertExpiration",
        "GeneralOrganizationName",
        "GeneralTcpipAddress",
        "FQDN",
        "GeneralTcpipPort",
        "GeneralSslPort",
        "GeneralSessionTimeout",
        "GeneralMaxUpload",
        "DbOdbcConnectString",
        "DbAccessSerialize",
        "DbConnectionThreadOwn",
        "DbConnectionIdleTimeout",
        "EmSmtpServer",
        "EmSmtpPort",
        "EmSmtpUserName",
        "EmSmtpPassword",
        "GeneralHttpAddr",
        "GeneralHttpsAddr",
        "EmPop3Server",
        "EmPop3Port",
        "EmImporterEmail",
        "EmImporterUserName",
        "EmImporterPassword",
        "EmDispatcherEmail",
        "EmAdminEmail",
        "EmMaxEmailOut",
        "ServiceDependency",
        "ServiceUserName",
        "ServicePassword",
        "MimeTextEncoding",
        "MimeCount",
    };
    EXPECT_EQ(names, expected);
}

TEST(SettingRowTest, DefaultsRoundTripAndEachRowAloneChangesOnlyItsName) {
    {
        TempRoot root;
        auto defaults = MakeSettings(root, SettingsBuild::kConsole);
        ASSERT_TRUE(defaults->Load());
        ASSERT_TRUE(defaults->Save());
        auto reloaded = MakeSettings(root, SettingsBuild::kConsole);
        ASSERT_TRUE(reloaded->Load());
        EXPECT_FALSE(defaults->IsDifferent(*reloaded));
        EXPECT_FALSE(reloaded->IsDifferent(*defaults));
    }
    for (const SettingRow& row : ServerSettingRows()) {
        SCOPED_TRACE(Label(row));
        TempRoot root;
        auto base = MakeSettings(root, SettingsBuild::kConsole);
        ASSERT_TRUE(base->Load());
        ASSERT_TRUE(base->Save());
        const CSettingsValues before = StoredValues(root);

        auto changed = MakeSettings(root, SettingsBuild::kConsole);
        ASSERT_TRUE(changed->Load());
        ASSERT_FALSE(base->IsDifferent(*changed));
        const std::set<std::string> written = ChangeAlone(row, *changed);
        EXPECT_EQ(base->IsDifferent(*changed), row.m_use == SettingUse::kSaved);
        ASSERT_TRUE(changed->Save());
        EXPECT_EQ(ChangedNames(before, StoredValues(root)), written);
        if (row.IsValue() && row.m_use == SettingUse::kSaved) {
            EXPECT_EQ(root.Stored(row.m_name), row.StoredText(*changed));
        }
    }
}

TEST(SettingRowTest, NumbersOutsideTheirRangeAreCorrectedOnLoad) {
    for (const SettingRow& row : ServerSettingRows()) {
        if (row.m_correction != SettingCorrection::kRaiseToLeast &&
            row.m_correction != SettingCorrection::kDefaultOutside) {
            continue;
        }
        const int fallback = std::atoi(row.m_default);
        const bool raise = row.m_correction == SettingCorrection::kRaiseToLeast;
        std::vector<std::pair<int, int>> cases = {{row.m_least - 1, raise ? row.m_least : fallback},
                                                  {row.m_least, row.m_least}};
        if (!raise && row.m_most != INT_MAX) {
            cases.insert(cases.end(), {{row.m_most, row.m_most}, {row.m_most + 1, fallback}});
        }
        for (const auto& [stored, expected] : cases) {
            SCOPED_TRACE(std::string(row.m_name) + "=" + std::to_string(stored));
            TempRoot root;
            root.Store({{row.m_name, std::to_string(stored)}});
            auto settings = MakeSettings(root, SettingsBuild::kServer);
            ASSERT_TRUE(settings->Load());
            EXPECT_EQ((*settings).*std::get<int CServerSettings::*>(row.m_member), expected);
        }
    }
}
