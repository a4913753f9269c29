#include <gtest/gtest.h>

#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/settings/ServerSettings.h"
#include "engine/settings/TaskEntry.h"
#include "engine/settings/tests/SettingsTestSupport.h"

namespace {

struct Moment {
    int year, month, day, hour, minute, second;
};

std::string Text(const Moment& m) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", m.year, m.month, m.day,
                  m.hour, m.minute, m.second);
    return text;
}

std::unique_ptr<CServerSettings> MakeSettings(const TempRoot& root, std::time_t now) {
    auto settings = std::make_unique<CServerSettings>(root.Path(), SettingsBuild::kServer);
    settings->SetClock([now] { return now; });
    settings->SetAddressLister(
        [](std::vector<std::string>&) { return CServerSettings::HostListing::kListed; });
    return settings;
}

}  // namespace

TEST(TaskEntryTest, NextRunFollowsTheWallClock) {
    struct Case {
        const char* label;
        const char* zone;
        int32_t dayCode;
        int64_t interval;
        Moment now;
        Moment expected;
    };
    // 2024-03-04 is a Monday.
    const std::vector<Case> cases = {
        {"daily, seconds after its minute",
         "UTC",
         40,
         3600,
         {2024, 3, 4, 1, 0, 30},
         {2024, 3, 5, 1, 0, 0}},
        {"daily, still to come today",
         "UTC",
         40,
         3600,
         {2024, 3, 4, 0, 59, 59},
         {2024, 3, 4, 1, 0, 0}},
        {"daily, across the month's end",
         "UTC",
         40,
         3600,
         {2024, 2, 29, 23, 0, 0},
         {2024, 3, 1, 1, 0, 0}},
        {"every 30 minutes", "UTC", 50, 1800, {2024, 3, 4, 10, 15, 45}, {2024, 3, 4, 10, 45, 0}},
        {"Monday, after its time on a Monday",
         "UTC",
         42,
         6 * 3600,
         {2024, 3, 4, 7, 0, 0},
         {2024, 3, 11, 6, 0, 0}},
        {"Monday, before its time on a Monday",
         "UTC",
         42,
         6 * 3600,
         {2024, 3, 4, 5, 0, 0},
         {2024, 3, 4, 6, 0, 0}},
        {"Monday, from the Saturday before",
         "UTC",
         42,
         6 * 3600,
         {2024, 3, 9, 12, 0, 0},
         {2024, 3, 11, 6, 0, 0}},
        {"Sunday, from a Sunday after its time",
         "UTC",
         41,
         0,
         {2024, 3, 10, 0, 0, 0},
         {2024, 3, 17, 0, 0, 0}},
        {"Saturday, from a Sunday",
         "UTC",
         47,
         23 * 3600 + 30 * 60,
         {2024, 3, 10, 8, 0, 0},
         {2024, 3, 16, 23, 30, 0}},
        {"daily into summer time",
         "Europe/Berlin",
         40,
         6 * 3600,
         {2024, 3, 30, 7, 0, 0},
         {2024, 3, 31, 6, 0, 0}},
        {"daily out of summer time",
         "Europe/Berlin",
         40,
         6 * 3600,
         {2024, 10, 26, 7, 0, 0},
         {2024, 10, 27, 6, 0, 0}},
        {"weekly across the change",
         "Europe/Berlin",
         42,
         6 * 3600,
         {2024, 3, 25, 7, 0, 0},
         {2024, 4, 1, 6, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CScopedTimeZone zone(c.zone);
        CTaskEntry task;
        task.m_dayCode = c.dayCode;
        task.m_interval = c.interval;
        const Moment& n = c.now;
        task.ComputeNextRun(LocalTime(n.year, n.month, n.day, n.hour, n.minute, n.second));
        EXPECT_EQ(LocalText(task.m_nextRun), Text(c.expected));
    }

    CTaskEntry unknown;
    unknown.m_dayCode = 12;
    unknown.m_nextRun = 1234;
    unknown.ComputeNextRun(LocalTime(2024, 3, 4, 7, 0, 0));
    EXPECT_EQ(unknown.m_nextRun, 1234);
}

TEST(TaskEntryTest, DayNamesAndScheduleTexts) {
    const std::vector<std::pair<std::string, int32_t>> codes = {
        {"Day", 40}, {"Sunday", 41}, {"Monday", 42}, {"Saturday", 47},
        {"day", 50}, {"monday", 50}, {"30", 50},     {"", 50},
    };
    for (const auto& [name, code] : codes) {
        EXPECT_EQ(CTaskEntry::DayCodeFromName(name), code) << name;
        CTaskEntry task;
        task.m_dayCode = code;
        EXPECT_EQ(task.GetDayName(), code == 50 ? "" : name) << name;
    }

    struct Case {
        int32_t dayCode;
        int64_t interval;
        bool clock24;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {50, 1800, false, "30 minute(s)"},
        {50, 90, false, "1 minute(s)"},
        {40, 3600, false, "Day at 01:00AM"},
        {42, 6 * 3600, false, "Monday at 06:00AM"},
        {47, 14 * 3600 + 5 * 60, false, "Saturday at 02:05PM"},
        {40, 0, false, "Day at 12:00AM"},
        {40, 14 * 3600 + 5 * 60, true, "Day at 14:05"},
    };
    const CLocaleDates saved = GetLocaleDateSettings();
    for (const Case& c : cases) {
        CLocaleDates dates = saved;
        dates.m_24Hour = c.clock24;
        SetLocaleDateSettings(dates);
        CTaskEntry task;
        task.m_dayCode = c.dayCode;
        task.m_interval = c.interval;
        EXPECT_EQ(task.GetScheduleText(), c.expected);
    }
    SetLocaleDateSettings(saved);
}

TEST(TaskTableTest, DefaultStatusLines) {
    TempRoot root;
    auto settings = MakeSettings(root, std::time(nullptr));
    ASSERT_TRUE(settings->Load());
    const std::string script = root.Path() + "/webroot/script/";
    const std::string expected =
        "2*Email Sender*Outgoing email server not set yet*Disabled\r\n"
        "3*Email Importer*Run " +
        script +
        "importer.zrs every 30 minute(s)*Disabled\r\n"
        "4*Due Date Reminder*Run " +
        script +
        "dueRem.zrs every 60 minute(s)*Disabled\r\n"
        "5*Issue Escalator*Run " +
        script +
        "escalator.zrs every 60 minute(s)*Disabled\r\n"
        "6*System*Run " +
        script +
        "system.zrs every Day at 01:00AM*Disabled\r\n"
        "7*Todo Reminder*Run " +
        script + "todoRem.zrs every Monday at 06:00AM*Disabled\r\n";
    EXPECT_EQ(settings->GetTaskStatusLines(false), expected);
    EXPECT_EQ(settings->GetTaskStatusLines(true), expected);
    EXPECT_EQ(settings->m_tasks[0].m_scriptPath, "none");
}

TEST(TaskTableTest, StatusLineStatesAndSeparators) {
    CScopedTimeZone zone("UTC");
    TempRoot root;
    auto settings = MakeSettings(root, LocalTime(2024, 3, 4, 10, 15, 45));
    ASSERT_TRUE(settings->Load());
    settings->EmSmtpServer = "smtp.example";
    // The Email Sender is known by its name, in any case, wherever its row stands.
    settings->m_tasks[0].m_name = "EMAIL sender";
    settings->m_tasks[0].m_enabled = true;
    settings->m_tasks[1].m_name = "Import*ant";
    settings->m_tasks[1].m_enabled = true;
    std::swap(settings->m_tasks[0], settings->m_tasks[1]);
    settings->m_tasks.resize(2);

    const std::string script = root.Path() + "/webroot/script/importer.zrs";
    EXPECT_EQ(settings->GetTaskStatusLines(false),
              "2*Import ant*Run " + script +
                  " every 30 minute(s)*Stopped\r\n"
                  "3*EMAIL sender*Send via smtp.example every 10 minute(s)*Stopped\r\n");
    EXPECT_EQ(settings->GetTaskStatusLines(true),
              "2*Import ant*Run " + script +
                  " every 30 minute(s)*03/04 10:45AM\r\n"
                  "3*EMAIL sender*Send via smtp.example every 10 minute(s)*03/04 10:25AM\r\n");
    EXPECT_EQ(settings->m_tasks[0].m_name, "Import*ant");  // stored as given
}

TEST(TaskTableTest, LoadResetsShortTablesToTheDefaults) {
    struct Case {
        const char* label;
        std::vector<CSettingsValues::Entry> stored;
        bool logged;
    };
    std::vector<CSettingsValues::Entry> five = {{"TaskCount", "5"}};
    for (int row = 1; row <= 5; ++row) {
        five.emplace_back("Task0" + std::to_string(row) + "Name", "Custom " + std::to_string(row));
    }
    const std::vector<Case> cases = {
        {"five rows", five, true},
        {"no count", {{"Task01Name", "Custom"}}, false},
        {"six counted, one unreadable",
         {{"TaskCount", "6"}, {"Task01Name", "A"}, {"Task02Name", "B"}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempRoot root;
        root.Store(c.stored);
        auto settings = MakeSettings(root, std::time(nullptr));
        CCapturedLog log(g_log);
        ASSERT_TRUE(settings->Load());
        ASSERT_EQ(settings->m_tasks.size(), 6u);
        EXPECT_EQ(settings->m_tasks[0].m_name, "Email Sender");
        EXPECT_EQ(settings->m_tasks[5].m_name, "Todo Reminder");
        EXPECT_EQ(log.Has("Default scripts missing. List of scripts has been reset."), c.logged);
        EXPECT_EQ(root.Stored("TaskCount"), "6");
        EXPECT_EQ(root.Stored("Task01Name"), "Email Sender");
        EXPECT_EQ(root.Stored("Task01Interval"), "10");
        EXPECT_EQ(root.Stored("Task05Interval"), "Day");
        EXPECT_EQ(root.Stored("Task05At"), "60");
        EXPECT_EQ(root.Stored("Task06Interval"), "Monday");
        EXPECT_EQ(root.Stored("Task06At"), "360");
        EXPECT_FALSE(settings->m_tasksChanged);
    }
}

TEST(TaskTableTest, StoredRowsLoadWithTheirRules) {
    CScopedTimeZone zone("UTC");
    std::vector<CSettingsValues::Entry> stored = {{"TaskCount", "2147483647"}};
    for (int row = 1; row <= 6; ++row) {
        stored.emplace_back("Task0" + std::to_string(row) + "Name", "T" + std::to_string(row));
    }
    stored.insert(stored.end(), {
                                    {"Task01Enabled", "yes"},
                                    {"Task01Interval", "15"},
                                    {"Task02Enabled", "Yes"},
                                    {"Task02Interval", "day"},
                                    {"Task03Interval", "Saturday"},
                                    {"Task03At", "1410"},
                                    {"Task04Interval", "Day"},
                                    {"Task04Script", "/srv/a.zrs"},
                                });
    TempRoot root;
    root.Store(stored);
    auto settings = MakeSettings(root, LocalTime(2024, 3, 4, 10, 15, 45));
    CCapturedLog log(g_log);
    ASSERT_TRUE(settings->Load());
    ASSERT_EQ(settings->m_tasks.size(), 6u);  // the huge count is capped, not reset
    EXPECT_FALSE(log.Has("Default scripts missing"));
    const std::vector<CTaskEntry>& t = settings->m_tasks;
    EXPECT_TRUE(t[0].m_enabled);
    EXPECT_EQ(t[0].m_dayCode, 50);
    EXPECT_EQ(t[0].m_interval, 900);
    EXPECT_EQ(t[0].m_scriptPath, "none");
    EXPECT_FALSE(t[1].m_enabled);
    EXPECT_EQ(t[1].m_dayCode, 50);
    EXPECT_EQ(t[1].m_interval, 0);
    EXPECT_EQ(t[2].m_dayCode, 47);
    EXPECT_EQ(t[2].m_interval, 1410 * 60);
    EXPECT_EQ(LocalText(t[2].m_nextRun), "2024-03-09 23:30:00");
    EXPECT_EQ(t[3].m_interval, 360 * 60);  // a missing time of day is 06:00
    EXPECT_EQ(t[3].m_scriptPath, "/srv/a.zrs");
    EXPECT_EQ(LocalText(t[3].m_nextRun), "2024-03-05 06:00:00");

    // Saved back in the stored forms, a row added by the console included.
    CTaskEntry added;
    added.m_name = "Weekly";
    added.m_enabled = true;
    added.m_scriptPath = "/srv/w.zrs";
    added.m_dayCode = 44;
    added.m_interval = 90 * 60;
    settings->m_tasks.push_back(added);
    settings->m_tasksChanged = true;
    ASSERT_TRUE(settings->SaveTasks());
    EXPECT_FALSE(settings->m_tasksChanged);
    EXPECT_EQ(root.Stored("TaskCount"), "7");
    EXPECT_EQ(root.Stored("Task01Interval"), "15");
    EXPECT_EQ(root.Stored("Task01At"), "");
    EXPECT_EQ(root.Stored("Task07Name"), "Weekly");
    EXPECT_EQ(root.Stored("Task07Enabled"), "yes");
    EXPECT_EQ(root.Stored("Task07Interval"), "Wednesday");
    EXPECT_EQ(root.Stored("Task07At"), "90");
    EXPECT_EQ(root.Stored("Task02Enabled"), "no");

    auto reloaded = MakeSettings(root, LocalTime(2024, 3, 4, 10, 15, 45));
    ASSERT_TRUE(reloaded->Load());
    ASSERT_EQ(reloaded->m_tasks.size(), 7u);
    EXPECT_EQ(reloaded->m_tasks[6].m_dayCode, 44);
    EXPECT_EQ(reloaded->m_tasks[6].m_interval, 90 * 60);
    EXPECT_EQ(LocalText(reloaded->m_tasks[6].m_nextRun), "2024-03-06 01:30:00");
}
