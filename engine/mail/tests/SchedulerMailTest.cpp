#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/foundation/LogWriter.h"
#include "engine/mail/MailSchedulerHooks.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/SmtpSink.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"
#include "engine/web/ScriptThread.h"
#include "engine/web/ServerContext.h"

using namespace std::chrono_literals;

namespace {

// 2024-01-10 12:00:00 UTC.
constexpr std::time_t kNoon = 1704888000;

// A scheduler over its own root with the mail hooks installed and g_log kept in memory.
class SchedulerMailTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_root.Path() + "/tmp");
        m_settings = std::make_unique<CServerSettings>(m_root.Path(), SettingsBuild::kServer);
        m_settings->SetClock([this] { return m_now; });
        m_settings->EmAdminEmail = "admin@z";
        m_settings->EmSmtpServer = "127.0.0.1";
        m_settings->SmtpTimeout = 5;
        m_settings->m_mimeMap.FillDefaults();
        m_settings->ClearTasks();
        AddTask("Email Sender", "none");
        m_context = std::make_unique<CServerContext>(*m_settings);
        m_hooks = std::make_unique<CMailSchedulerHooks>(*m_settings, m_root.Path(), g_log);
        CSchedulerMailHooks::Install(m_hooks.get());
        m_oldLogFolder = g_log.GetFolder();
        m_log = std::make_unique<CCapturedLog>(g_log);
    }

    void TearDown() override {
        // A failed assertion may leave a thread running: end it before what it uses goes.
        for (auto& thread : m_threads) {
            thread->Abandon();
            EXPECT_TRUE(thread->WaitForEnd(10s));
        }
        m_log.reset();
        g_log.SetFolder(m_oldLogFolder);
        CSchedulerMailHooks::Install(nullptr);
    }

    void AddTask(const std::string& name, const std::string& script) {
        CTaskEntry task;
        task.m_name = name;
        task.m_enabled = true;
        task.m_scriptPath = script;
        task.m_dayCode = CTaskEntry::kInterval;
        task.m_interval = 600;
        task.ComputeNextRun(m_now);
        m_settings->m_tasks.push_back(task);
    }

    // A script under bin/ that fails on its second line.
    void AddFailingTask(const std::string& name) {
        std::filesystem::create_directories(m_root.Path() + "/bin");
        WriteFile(m_root.Path() + "/bin/fail.zrs", "set Local.a = 1;\nset Local.x = 7 / 0;\n");
        AddTask(name, "fail.zrs");
    }

    std::shared_ptr<CScriptThread> MakeThread() {
        m_threads.push_back(CScriptThread::Create(*m_settings, *m_context, m_root.Path()));
        return m_threads.back();
    }

    std::vector<std::string> OutboxFiles() {
        const std::string outbox = m_root.Path() + "/mail/outbox";
        return Exists(outbox) ? ListFolder(outbox) : std::vector<std::string>();
    }

    CTempFolder m_root;
    std::time_t m_now = kNoon;
    std::unique_ptr<CServerSettings> m_settings;
    std::unique_ptr<CServerContext> m_context;
    std::unique_ptr<CMailSchedulerHooks> m_hooks;
    std::unique_ptr<CCapturedLog> m_log;
    std::string m_oldLogFolder;
    std::vector<std::shared_ptr<CScriptThread>> m_threads;
};

TEST_F(SchedulerMailTest, FailingTaskQueuesItsErrorToTheAdministrator) {
    AddFailingTask("Nightly");
    auto thread = MakeThread();
    ASSERT_TRUE(thread->Start());
    ASSERT_TRUE(thread->PostRunTask(3));
    ASSERT_TRUE(thread->Quit());

    const std::string path = m_root.Path() + "/bin/fail.zrs";
    const std::string log = m_log->All();
    const size_t started = log.find("Nightly (" + path + ") started running.\r\n");
    const size_t error = log.find("Operation not allowed on these operands.");
    const size_t ended = log.find("Nightly ended.\r\n");
    ASSERT_NE(started, std::string::npos) << log;
    ASSERT_NE(error, std::string::npos) << log;
    ASSERT_NE(ended, std::string::npos) << log;
    EXPECT_LT(started, error);
    EXPECT_LT(error, ended);

    std::vector<std::string> files = OutboxFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::string mail = ReadFile(m_root.Path() + "/mail/outbox/" + files[0]);
    EXPECT_TRUE(
        mail.starts_with("From: admin@z\r\nTo: admin@z\r\nCc: \r\nBcc: \r\n"
                         "Subject: Nightly error\r\n"))
        << mail;
    EXPECT_NE(mail.find("\r\n\r\n" + path + " (2,"), std::string::npos) << mail;
    EXPECT_TRUE(mail.ends_with("Operation not allowed on these operands.")) << mail;
}

TEST_F(SchedulerMailTest, WithoutAdministratorNoErrorMailIsQueued) {
    m_settings->EmAdminEmail.clear();
    AddFailingTask("Nightly");
    MakeThread()->OnRunTask(3);
    EXPECT_NE(m_log->All().find("Operation not allowed on these operands."), std::string::npos);
    EXPECT_NE(m_log->All().find("Nightly ended."), std::string::npos);
    EXPECT_TRUE(OutboxFiles().empty());
}

TEST_F(SchedulerMailTest, OneTickMailsATaskErrorThroughTheEmailSender) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    m_settings->EmSmtpPort = std::to_string(sink.Port());
    AddFailingTask("Nightly");
    // A script's mail already waits in the outbox.
    CLogWriter quiet;
    CSspEmailOut queued;
    queued.m_strTo = "b@y";
    queued.m_strFrom = "a@x";
    queued.m_strSubject = "hi";
    queued.m_strContent = "Hello";
    ASSERT_EQ(queued.Send(MailSettingsFrom(*m_settings), m_root.Path(), quiet), 1);

    m_now += 700;  // both rows are due
    auto thread = MakeThread();
    thread->OnSchedulerTick();

    // The last row ran first, so the sender's run took its error mail along.
    std::vector<CSmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 2u);
    int errorMails = 0;
    for (const CSmtpSink::Message& m : messages) {
        if (m.m_data.find("\r\nSubject: Nightly error\r\n") != std::string::npos) {
            ++errorMails;
            EXPECT_EQ(m.m_from, "admin@z");
            EXPECT_EQ(m.m_to, std::vector<std::string>{"admin@z"});
        } else {
            EXPECT_EQ(m.m_to, std::vector<std::string>{"b@y"});
        }
    }
    EXPECT_EQ(errorMails, 1);
    EXPECT_NE(m_log->All().find("Email Sender ended. 2 email(s) sent"), std::string::npos)
        << m_log->All();
    EXPECT_TRUE(OutboxFiles().empty());
    EXPECT_EQ(m_hooks->Sender().SentToday(), 2);

    // The day's count lives on in the hooks: the next run adds to it.
    ASSERT_EQ(queued.Send(MailSettingsFrom(*m_settings), m_root.Path(), quiet), 1);
    thread->OnRunTask(2);
    EXPECT_EQ(sink.Messages().size(), 3u);
    EXPECT_EQ(m_hooks->Sender().SentToday(), 3);
}

}  // namespace
