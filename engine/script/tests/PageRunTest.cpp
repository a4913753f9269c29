// A run as a whole: its error texts, the checks at its end, the rollback of what it left
// open, the lock it holds, the debugger's view of it and the files it serves from the
// database. Database cases run on an embedded SQLite file through a server link as the
// server context provides it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/data/DataSource.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/FileIdUrl.h"
#include "engine/script/SspContextLink.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspServerLink.h"
#include "engine/script/tests/SqlTestLink.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

namespace fs = std::filesystem;

const char kMissingCommit[] = "Missing CommitTransaction(). All database changes are discarded. ";

// Page and script files in a folder of the test's own.
class CPageFolder : public CTempFolder {
public:
    std::string Write(const std::string& name, const std::string& text) {
        std::string path = File(name);
        WriteFile(path, text);
        return path;
    }
};

class CSqliteRun : public sqltest::CSqliteLinkTest<sqltest::CTestLink> {
protected:
    void Sql(const std::string& statement) {
        m_link->m_source.DoCommand("Open");
        m_link->m_source.Connection().ExecuteSQL(statement);
    }

    std::string Rows() {
        CSspRunResult r = RunSspText(
            "sql c = select id from t order by id;\n"
            "while (c.fetch() == 1) write c.id || ';'; endwhile\n",
            false);
        EXPECT_EQ(r.m_code, kSspDone) << r.m_error;
        return r.m_output;
    }
};

// The context's side of a run: its lock, held throughout when runs are serialised.
class CLockLink : public CSspContextLink {
public:
    explicit CLockLink(bool serialize) : m_bSerialize(serialize) {}

    std::unique_lock<std::recursive_mutex> LockRun() override {
        return m_bSerialize ? std::unique_lock<std::recursive_mutex>(m_lock)
                            : std::unique_lock<std::recursive_mutex>();
    }
    std::time_t Now() override { return 0; }
    CSessionRef FindSession(const std::string&, const std::string&) override { return {}; }
    CSessionRef CreateSession(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
    void RemoveSession(const std::string&) override {}
    void RemoveUserSessions(const std::string&) override {}
    std::vector<std::string> ListSessions() override { return {}; }
    void CallAppMember(const std::string&, CSspCall&, CSspValue&) override {}
    std::string RequestCookie(CSspRequestObject&, const std::string&) override { return {}; }
    std::string RequestField(CSspRequestObject&, const std::string&) override { return {}; }
    std::string ClientAddress(CSspRequestObject&) override { return {}; }
    std::string ResponseCookie(CSspResponseObject&, const std::string&) override { return {}; }
    void SetSessionCookies(CSspResponseObject&, const CSessionRecord&,
                           const std::string&) override {}

    bool m_bSerialize;
    std::recursive_mutex m_lock;
};

// Installs a context link for one test.
class CInstalledLock {
public:
    explicit CInstalledLock(bool serialize) : m_link(serialize) {
        CSspContextLink::Install(&m_link);
    }
    ~CInstalledLock() { CSspContextLink::Install(nullptr); }
    CInstalledLock(const CInstalledLock&) = delete;
    CInstalledLock& operator=(const CInstalledLock&) = delete;
    CLockLink m_link;
};

// Calls `m_onMark` whenever the page writes "|", as literal text or as a value.
class CMarkResponse : public CSspMemoryResponse {
public:
    void WriteText(std::string_view text) override {
        CSspMemoryResponse::WriteText(text);
        Check(text);
    }
    void WriteValue(const CSspValue& value) override {
        CSspMemoryResponse::WriteValue(value);
        Check(value.GetText());
    }
    std::function<void()> m_onMark;

private:
    void Check(std::string_view text) {
        if (text.find('|') != std::string_view::npos && m_onMark) {
            m_onMark();
        }
    }
};

int RunWith(const std::string& path, CSspResponseObject& response, std::string* error = nullptr) {
    CSspInterpreter interp;
    int rc = interp.RunPage(path, "/test.zrp", nullptr, &response);
    if (error != nullptr) {
        *error = interp.m_strError;
    }
    return rc;
}

TEST(PageRun, ErrorTextsNameFileLineAndColumn) {
    struct Case {
        const char* name;
        const char* text;
        int code;
        const char* output;
        std::string error;  // after "<path> ", or the whole text when `whole`
        bool whole = false;
    };
    const Case cases[] = {
        {"unknown.zrp", "x\ny\n--{ foo.bar; }--", kSspError, "x\ny\n",
         "(3,5): \r\n--{ foo.bar; }--\r\n\r\nUnknown Object: foo"},
        {"percent.zrp", "--{ 3 * -2; }--", kSspError, "",
         "(1,9): \r\n--{ 3 * -2; }--\r\n\r\nMissing right operand after */%%+-."},
        {"third.zrs", "write 1;\r\nwrite 2;\r\nwrite bar.x;\r\n", kSspError, "12",
         "(3,7): \r\nwrite bar.x;\r\n\r\nUnknown Object: bar"},
        {"openif.zrp", "<!--{ if (1) }-->a", kSspError, "a",
         "(1,7): \r\n<!--{ if (1) }-->a\r\n\r\nMissing matching endif."},
        {"openwhile.zrp", "<!--{ while (1) write 'w'; }-->", kSspError, "w",
         "(1,7): \r\n<!--{ while (1) write 'w'; }-->\r\n\r\nMissing matching endwhile."},
        {"openblock.zrp", "a--{ 1 + 1;", kSspError, "a2",
         "(1,12): \r\na--{ 1 + 1;\r\n\r\nMissing }--"},
        // A script is code to its end: no block to close.
        {"openblock.zrs", "write 1 + 1;", kSspDone, "2", "", true},
        // An error statement's text is the user's own: no place, no doubling.
        {"error.zrp", "a--{ error 'bad 5%'; }--b", kSspError, "a", "bad 5%", true},
        {"return.zrp", "a--{ return; }--b", kSspReturned, "a", "", true},
    };
    CPageFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder.Write(c.name, c.text);
        CSspRunResult r = RunSspFile(path, std::string("/") + c.name);
        EXPECT_EQ(r.m_code, c.code);
        EXPECT_EQ(r.m_output, c.output);
        EXPECT_EQ(r.m_error, c.whole ? c.error : path + " " + c.error);
    }
}

TEST(PageRun, FunctionErrorsCountLinesInTheFile) {
    CPageFolder folder;
    std::string path =
        folder.Write("f.zrs", "write Local.f(1);\n\n\n\nfunction f(a) return bar.x; endfunction\n");
    CSspRunResult r = RunSspFile(path, "/script/f.zrs");
    EXPECT_EQ(r.m_code, kSspError);
    EXPECT_EQ(r.m_error, path + " (1,7): \r\nwrite Local.f(1);\r\n\r\n" + path +
                             " (5,22): \r\nfunction f(a) return bar.x; endfunction\r\n\r\n"
                             "Unknown Object: bar");
}

// ---- Transactions ---------------------------------------------------------------------------

TEST_F(CSqliteRun, OpenTransactionIsRolledBackAndFailsTheRun) {
    Sql("create table t (id integer)");
    struct Case {
        const char* text;
        int code;
        const char* error;
        const char* rows;  // the table after the run
    };
    const Case cases[] = {
        {"<!--{ Local.BeginTransaction(); sql i = insert into t (id) values (7); i.execute(); }-->",
         kSspError, kMissingCommit, ""},
        // The next page's insert is no part of that transaction.
        {"<!--{ sql i = insert into t (id) values (8); i.execute(); }-->", kSspDone, "", "8;"},
        // A top-level return does not commit either.
        {"<!--{ Local.BeginTransaction(); sql i = insert into t (id) values (9); i.execute(); "
         "return; }-->",
         kSspError, kMissingCommit, "8;"},
        // An error keeps its own text; its changes go too.
        {"<!--{ Local.BeginTransaction(); sql i = insert into t (id) values (10); i.execute(); "
         "error 'stop'; }-->",
         kSspError, "stop", "8;"},
        // A function's statements are part of its caller's transaction...
        {"<!--{ Local.BeginTransaction(); Local.add(11); Local.CommitTransaction();\n"
         "function add(n) sql i = insert into t (id) values (arg.n); i.execute(); endfunction "
         "}-->",
         kSspDone, "", "8;11;"},
        // ...and a transaction a function opens is its caller's to commit.
        {"<!--{ Local.open(12); Local.CommitTransaction();\n"
         "function open(n) Local.BeginTransaction(); sql i = insert into t (id) values (arg.n); "
         "i.execute(); endfunction }-->",
         kSspDone, "", "8;11;12;"},
        {"<!--{ Local.open(13);\n"
         "function open(n) Local.BeginTransaction(); sql i = insert into t (id) values (arg.n); "
         "i.execute(); endfunction }-->",
         kSspError, kMissingCommit, "8;11;12;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int acquired = m_link->m_acquired;
        int released = m_link->m_released;
        CSspRunResult r = RunSspText(c.text, true);
        EXPECT_EQ(r.m_code, c.code);
        EXPECT_EQ(r.m_error, c.error);
        // One connection per run, however many functions used it, and given back.
        EXPECT_EQ(m_link->m_acquired - acquired, 1);
        EXPECT_EQ(m_link->m_released - released, 1);
        EXPECT_FALSE(m_link->m_source.InTransaction());
        EXPECT_EQ(Rows(), c.rows);
    }
}

// ---- The run's lock ---------------------------------------------------------------------------

TEST(PageRunLock, SerialisedRunHoldsTheContextLockThroughout) {
    CInstalledLock installed(true);
    CPageFolder folder;
    // A mark is written inside a called function (a nested run on the same thread), one after
    // it has ended.
    std::string path = folder.Write(
        "p.zrp",
        "a<!--{ Local.f(1); write '|'; }-->b<!--{ function f(x) write '|'; endfunction }-->");
    std::vector<bool> heldElsewhere;
    CMarkResponse response;
    response.m_onMark = [&] {
        std::thread other([&] {
            bool free = installed.m_link.m_lock.try_lock();
            if (free) {
                installed.m_link.m_lock.unlock();
            }
            heldElsewhere.push_back(!free);
        });
        other.join();
    };
    // A second run on the thread takes the lock as the first did.
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        std::string error;
        EXPECT_EQ(RunWith(path, response, &error), kSspDone) << error;
        EXPECT_EQ(heldElsewhere, std::vector<bool>(2 * run, true));
        // Given back at the end.
        ASSERT_TRUE(installed.m_link.m_lock.try_lock());
        installed.m_link.m_lock.unlock();
    }
    EXPECT_EQ(response.m_output, "a||ba||b");
}

TEST(PageRunLock, UnserialisedRunsDoNotWaitForEachOther) {
    CInstalledLock installed(false);
    CPageFolder folder;
    std::string slow = folder.Write("slow.zrp", "a|b");
    std::string quick = folder.Write(
        "quick.zrp", "q<!--{ Local.f(1); }--><!--{ function f(x) write 'x'; endfunction }-->");
    std::mutex lock;
    std::condition_variable changed;
    bool quickDone = false;
    int quickCode = -1;
    CMarkResponse response;
    // The first run waits in its middle for a whole second run on another thread.
    response.m_onMark = [&] {
        std::thread other([&] {
            CSspRunResult r = RunSspFile(quick, "/quick.zrp");
            std::lock_guard guard(lock);
            quickCode = r.m_code;
            quickDone = true;
            changed.notify_all();
        });
        {
            std::unique_lock wait(lock);
            // Bounded only so that a regression fails instead of hanging the suite.
            changed.wait_for(wait, std::chrono::seconds(60), [&] { return quickDone; });
        }
        other.join();
    };
    EXPECT_EQ(RunWith(slow, response), kSspDone);
    EXPECT_TRUE(quickDone);
    EXPECT_EQ(quickCode, kSspDone);
    EXPECT_EQ(response.m_output, "a|b");
}

// ---- Debugger hooks ---------------------------------------------------------------------------

// Writes down what a debugger would see; stops the run at a chosen hook call.
class CRecordingHooks : public CSspDebugHooks {
public:
    void AttachInterpreter(CSspInterpreter& interp) override {
        m_events.push_back(std::string("attach ") + (interp.m_pRoot == &interp ? "root" : "child"));
        m_sameThread = m_sameThread && interp.m_winThread == std::this_thread::get_id();
    }
    void DetachInterpreter(CSspInterpreter& interp) override {
        m_events.push_back("detach " + std::to_string(interp.m_nErrorOffset));
    }
    bool BeforeStatement(CSspInterpreter& interp) override {
        m_events.push_back("stmt " + std::to_string(interp.GetCurrentLine()) + " chain " +
                           std::to_string(interp.m_pRoot->GetCurrentLine(interp.m_strFilePath)) +
                           " root " + std::to_string(interp.m_pRoot->GetCurrentLine()));
        return ++m_calls == m_stopAt;
    }
    bool BeforeLiteralText(CSspInterpreter& interp) override {
        m_events.push_back("text " + std::to_string(interp.GetCurrentLine()) +
                           (interp.IsAtCodeLine() ? " code" : ""));
        return ++m_calls == m_stopAt;
    }

    std::vector<std::string> m_events;
    int m_stopAt = 0;  // the hook call (1-based) that stops the run; 0 never
    int m_calls = 0;
    bool m_sameThread = true;
};

class PageRunDebugger : public ::testing::Test {
protected:
    void SetUp() override { CSspDebugHooks::Install(&m_hooks); }
    void TearDown() override { CSspDebugHooks::Install(nullptr); }

    CSspRunResult Run(const std::string& name, const std::string& text) {
        return RunSspFile(m_folder.Write(name, text), "/" + name);
    }

    CRecordingHooks m_hooks;
    CPageFolder m_folder;
};

TEST_F(PageRunDebugger, SeesEveryLiteralLineAndStatement) {
    CSspRunResult r = Run("p.zrp", "a\nb--{ write 1; }--\nc\n");
    EXPECT_EQ(r.m_code, kSspDone) << r.m_error;
    EXPECT_EQ(r.m_output, "a\nb1\nc\n");
    EXPECT_EQ(m_hooks.m_events, (std::vector<std::string>{"attach root", "text 1", "text 2 code",
                                                          "stmt 2 chain 2 root 2", "text 2 code",
                                                          "text 3", "detach -1"}));
    EXPECT_TRUE(m_hooks.m_sameThread);
}

TEST_F(PageRunDebugger, StopEndsTheRunBeforeTheNextStep) {
    struct Case {
        const char* name;
        const char* text;
        int stopAt;
        const char* output;
    };
    const Case cases[] = {
        {"statement.zrp", "--{ write 1; write 2; }--x", 3, "1"},
        {"text.zrp", "a\nb\nc", 2, "a\n"},
        // Inside a called function the whole chain stops.
        {"function.zrs",
         "write Local.f();\nwrite 'after';\nfunction f() write 'in'; write 'x'; "
         "endfunction",
         3, "in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_hooks.m_calls = 0;
        m_hooks.m_stopAt = c.stopAt;
        CSspRunResult r = Run(c.name, c.text);
        EXPECT_EQ(r.m_code, kSspStopped);
        EXPECT_EQ(r.m_output, c.output);
    }
}

TEST_F(PageRunDebugger, FindsTheLineAlongTheChainOfCalls) {
    const std::string text =
        "write Local.f(1);\nfunction f(a)\n  write 'in';\n  return bar.x;\nendfunction";
    CSspRunResult r = Run("f.zrs", text);
    EXPECT_EQ(r.m_code, kSspError);
    const std::string call = std::to_string(text.find("Local.f"));
    const std::string bar = std::to_string(text.find("bar.x"));
    // The chain's line is the function's while it runs; the root stays at its call. Error
    // offsets count in the file.
    EXPECT_EQ(m_hooks.m_events,
              (std::vector<std::string>{"attach root", "stmt 1 chain 1 root 1", "attach child",
                                        "stmt 3 chain 3 root 1", "stmt 4 chain 4 root 1",
                                        "detach " + bar, "detach " + call}));
}

TEST_F(PageRunDebugger, LastLineWithoutLineFeedHasItsNumber) {
    CSspRunResult r = Run("s.zrs", "write 1;\nwrite 2;");
    EXPECT_EQ(r.m_code, kSspDone) << r.m_error;
    EXPECT_EQ(m_hooks.m_events, (std::vector<std::string>{"attach root", "stmt 1 chain 1 root 1",
                                                          "stmt 2 chain 2 root 2", "detach -1"}));
}

// ---- Files served from the database -----------------------------------------------------------

class ServeDatabaseFileTest : public CSqliteRun {
protected:
    void SetUp() override {
        CSqliteRun::SetUp();
        if (IsSkipped()) {
            return;
        }
        m_encrypt = g_settings.EncryptFileID;
        Sql("create table files (id integer, body blob)");
        Sql("insert into files (id, body) values (1, X'00FF410D0A')");
    }
    void TearDown() override {
        g_settings.EncryptFileID = m_encrypt;
        CSqliteRun::TearDown();
    }

    bool m_encrypt = true;
};

TEST_F(ServeDatabaseFileTest, SendsTheColumnOrSaysWhyNot) {
    const std::string body(
        "\x00\xff"
        "A\r\n",
        5);
    const std::string token = "/" + BuildFileIdUrl("files", "id", "1", "body", "a.bin");
    struct Case {
        std::string url;
        bool encrypted;
        int code;
        std::string output;
        std::string error;
    };
    const Case cases[] = {
        {"/app/FileDB/files/id/1/body/a.bin", false, kSspDone, body, ""},
        {"/app/filedb/files/id/2/body/a.bin", false, kSspError, "",
         "The attachment has already been deleted"},
        {"/app/FileDB/files", false, kSspError, "", g_msg.m_urlMissingKeyColumn},
        {token, true, kSspDone, body, ""},
        {"/app/FileDB/files/id/1/body/a.bin", true, kSspError, "",
         g_msg.m_encryptedFileUrlExpected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        g_settings.EncryptFileID = c.encrypted;
        int acquired = m_link->m_acquired;
        int released = m_link->m_released;
        CSspMemoryResponse response;
        CSspInterpreter interp;
        EXPECT_EQ(interp.ServeDatabaseFile(c.url, nullptr, &response), c.code);
        EXPECT_EQ(response.m_output, c.output);
        EXPECT_EQ(interp.m_strError, c.error);
        EXPECT_EQ(interp.m_nErrorOffset, -1);
        EXPECT_EQ(m_link->m_acquired - acquired, 1);
        EXPECT_EQ(m_link->m_released - released, 1);
    }
}

TEST_F(ServeDatabaseFileTest, WithoutADataSourceNothingIsSent) {
    m_link->m_bHasSource = false;
    g_settings.EncryptFileID = false;
    CSspMemoryResponse response;
    CSspInterpreter interp;
    EXPECT_EQ(interp.ServeDatabaseFile("/FileDB/files/id/1/body/a.bin", nullptr, &response),
              kSspError);
    EXPECT_EQ(interp.m_strError, g_msg.m_noDataSourceDefined);
    EXPECT_EQ(response.m_output, "");
    EXPECT_EQ(m_link->m_released, 0);
}

}  // namespace
