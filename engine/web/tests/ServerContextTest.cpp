#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engine/data/DataSource.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspApplication.h"
#include "engine/web/tests/ContextTestSupport.h"

using context_test::ContextTest;
using context_test::PageResult;
namespace fs = std::filesystem;

namespace {

class ServerContextTest : public ContextTest {};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ServerContextTest, PageErrorsNameFileLineAndColumn) {
    struct Case {
        const char* page;
        const char* output;
        std::string tail;  // after "<path> "
    };
    const Case cases[] = {
        {"x\ny\n--{ foo.bar; }--", "x\ny\n",
         "(3,5): \r\n--{ foo.bar; }--\r\n\r\nUnknown Object: foo"},
        {"--{ 3 * -2; }--", "",
         "(1,9): \r\n--{ 3 * -2; }--\r\n\r\nMissing right operand after */%%+-."},
    };
    for (const Case& c : cases) {
        PageResult r = Run(c.page);
        EXPECT_EQ(r.m_code, 1) << c.page;
        EXPECT_EQ(r.m_output, c.output) << c.page;
        EXPECT_EQ(r.m_error, m_root + "/webroot/test.zrp " + c.tail) << c.page;
    }
    PageResult open = Run("<!--{ if (1) }-->a");
    EXPECT_EQ(open.m_code, 1);
    EXPECT_TRUE(open.m_error.ends_with("Missing matching endif.")) << open.m_error;
}

TEST_F(ServerContextTest, UncommittedTransactionIsRolledBack) {
    if (!HaveSqlite()) {
        GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
    }
    ASSERT_EQ(Run("<!--{ sql mk = 'create table t (id integer)'; mk.execute(); }-->").m_code, 0);
    PageResult open = Run(
        "<!--{ Local.BeginTransaction(); sql ins = insert into t (id) values (7); ins.execute(); "
        "}-->");
    EXPECT_EQ(open.m_code, 1);
    EXPECT_EQ(open.m_error, "Missing CommitTransaction(). All database changes are discarded. ");
    PageResult plain = Run("<!--{ sql ins = insert into t (id) values (8); ins.execute(); }-->");
    EXPECT_EQ(plain.m_code, 0) << plain.m_error;
    PageResult rows = Run(
        "<!--{ sql c = select id from t; while (c.fetch() == 1) write c.id; write ';'; endwhile "
        "}-->");
    EXPECT_EQ(rows.m_code, 0) << rows.m_error;
    EXPECT_EQ(rows.m_output, "8;");
}

TEST_F(ServerContextTest, DataSourceOfTheLongestPrefix) {
    m_context->SetDataSource("DSN=app", "/app/");
    m_context->SetDataSource("DSN=app2", "/APP/");  // same length: the first mapped stays
    struct Case {
        const char* path;
        const char* connection;
    };
    const std::string root = Connection("main");
    const Case cases[] = {
        {"/App/x.zrp", "DSN=app"},
        {"/app/sub/x.zrp", "DSN=app"},
        {"/other/x.zrp", root.c_str()},
        {"/", root.c_str()},
    };
    for (const Case& c : cases) {
        std::string found;
        ASSERT_TRUE(m_context->FindConnection(c.path, found)) << c.path;
        EXPECT_EQ(found, c.connection) << c.path;
    }
    CServerContext bare(*m_settings);
    std::string none;
    EXPECT_FALSE(bare.FindConnection("/x.zrp", none));
    try {
        bare.AcquireDataSource("/x.zrp");
        ADD_FAILURE() << "no mapping raised nothing";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(), "Internal error. No data source is defined. ");
    }
    try {
        bare.AcquireDataSource("");
        ADD_FAILURE() << "an empty path raised nothing";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(), "FileOrDir empty in finding DS");
    }
}

TEST_F(ServerContextTest, PagesUseTheDatabaseOfTheirPrefix) {
    if (!HaveSqlite()) {
        GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
    }
    m_context->SetDataSource(Connection("app"), "/app/");
    ASSERT_EQ(
        Run("<!--{ sql mk = 'create table only_app (id integer)'; mk.execute(); }-->", "/App/x.zrp")
            .m_code,
        0);
    PageResult there = Run("<!--{ sql c = select id from only_app; c.fetch(); }-->", "/app/y.zrp");
    EXPECT_EQ(there.m_code, 0) << there.m_error;
    PageResult elsewhere =
        Run("<!--{ sql c = select id from only_app; c.fetch(); }-->", "/other/x.zrp");
    EXPECT_EQ(elsewhere.m_code, 1);
    EXPECT_NE(elsewhere.m_error.find("only_app"), std::string::npos) << elsewhere.m_error;
}

TEST_F(ServerContextTest, SharedAndPrivateDataSources) {
    if (!HaveSqlite()) {
        GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
    }
    CDataSource* a = m_context->AcquireDataSource("/a.zrp");
    CDataSource* b = m_context->AcquireDataSource("/b/c.zrp");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->Users(), 2);
    EXPECT_TRUE(a->IsConnected());
    std::string info = m_context->GetDataSourceInfo();
    EXPECT_TRUE(info.starts_with("/;\t" + Connection("main") + "\t12/09/2026 08:05AM\topen\r\n"))
        << info;
    CDataSource* keep = a;
    m_context->ReleaseDataSource(a);
    EXPECT_EQ(a, nullptr);
    m_context->ReleaseDataSource(b);
    EXPECT_EQ(keep->Users(), 0);

    // Unused for more than 120 whole minutes: closed, but kept for its next user.
    m_now = context_test::kStart + 120 * 60 + 59;
    m_context->CloseIdleDataSources();
    EXPECT_TRUE(keep->IsConnected());
    m_now = context_test::kStart + 121 * 60;
    m_context->CloseIdleDataSources();
    EXPECT_FALSE(keep->IsConnected());
    EXPECT_TRUE(m_context->GetDataSourceInfo().ends_with("\tclosed\r\n"));

    m_settings->DbConnectionThreadOwn = true;
    CDataSource* own1 = m_context->AcquireDataSource("/a.zrp");
    CDataSource* own2 = m_context->AcquireDataSource("/a.zrp");
    EXPECT_NE(own1, own2);
    EXPECT_NE(own1, keep);
    EXPECT_TRUE(own1->m_bPrivate);
    EXPECT_EQ(keep->Users(), 0);
    m_context->ReleaseDataSource(own1);
    m_context->ReleaseDataSource(own2);
    // Only the shared one is left.
    info = m_context->GetDataSourceInfo();
    EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), 1) << info;
}

TEST_F(ServerContextTest, RunsOnOneThreadShareItsConnectionUntilItIdles) {
    if (!HaveSqlite()) {
        GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
    }
    m_settings->DbAccessSerialize = false;
    m_settings->DbConnectionThreadOwn = true;
    // A temporary table lives as long as the connection that made it.
    PageResult made =
        Run("<!--{ sql t = 'create temp table mark (x integer)'; t.execute(); "
            "sql i = 'insert into mark values (7)'; i.execute(); }-->");
    ASSERT_EQ(made.m_code, 0) << made.m_error;
    const std::string read = "<!--{ sql c = 'select x from mark'; c.fetch(); }-->--{ c.x; }--";
    PageResult same = Run(read);
    EXPECT_EQ(same.m_code, 0) << same.m_error;
    EXPECT_EQ(same.m_output, "7");
    PageResult elsewhere;
    std::thread([&] { elsewhere = Run(read, "/other.zrp"); }).join();
    EXPECT_EQ(elsewhere.m_code, 1);
    EXPECT_NE(elsewhere.m_error.find("mark"), std::string::npos) << elsewhere.m_error;

    CDataSource* own = m_context->AcquireDataSource("/test.zrp");
    CDataSource* kept = own;
    EXPECT_EQ(kept->ConnectCount(), 1);
    m_context->ReleaseDataSource(own);
    m_now = context_test::kStart + 121 * 60;
    m_context->CloseIdleDataSources();
    EXPECT_FALSE(kept->IsConnected());

    PageResult reconnected = Run(read);
    EXPECT_EQ(reconnected.m_code, 1);
    EXPECT_NE(reconnected.m_error.find("mark"), std::string::npos) << reconnected.m_error;
    own = m_context->AcquireDataSource("/test.zrp");
    EXPECT_EQ(own, kept);
    EXPECT_EQ(kept->ConnectCount(), 2);
    m_context->ReleaseDataSource(own);
}

TEST_F(ServerContextTest, InitDefaultDataSourceRules) {
    struct Case {
        int timeout;
        const char* connect;
        int result;
        int timeoutAfter;
    };
    constexpr int kSourceSet = 0;
    constexpr int kConnectTooShort = -1;
    const Case cases[] = {
        {2000, "ODBC;DSN=a", kSourceSet, 600},
        {-1, "ODBC;DSN=a", kSourceSet, 600},
        {1440, "ODBC;DSN=a", kSourceSet, 1440},
        {0, "ODBC", kConnectTooShort, 0},
    };
    for (const Case& c : cases) {
        CServerContext context(*m_settings);
        m_settings->GeneralSessionTimeout = c.timeout;
        m_settings->DbOdbcConnectString = c.connect;
        EXPECT_EQ(context.InitDefaultDataSource(), c.result) << c.connect;
        EXPECT_EQ(m_settings->GeneralSessionTimeout, c.timeoutAfter);
        std::string found;
        EXPECT_EQ(context.FindConnection("/x.zrp", found), c.result == kSourceSet);
        if (c.result == kSourceSet) {
            EXPECT_EQ(found, "DSN=a");
        }
    }
}

TEST_F(ServerContextTest, ServerVariablesAndMembers) {
    PageResult r = Run(
        "--{ Server.Var('x', 'none'); }--|"
        "<!--{ Server.SetVar('Color', 'red'); }-->"
        "--{ Server.color; }--|--{ Server.Var('COLOR'); }--|--{ Server.VarExist('color'); }--|"
        "--{ Server.VarExist('x'); }--|--{ Server.EngineVersion; }--|--{ Server.SessionTimeout; "
        "}--|--{ Server.UseDataSource('ODBC;DSN=a'); }--");
    EXPECT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, "none|red|red|1|0|2|600|1");
    std::string found;
    ASSERT_TRUE(m_context->FindConnection("/x.zrp", found));
    EXPECT_EQ(found, "DSN=a");

    struct Case {
        const char* page;
        std::string message;
    };
    const std::string undefined = "Server variable not defined. Use a set statement to define it: ";
    const Case cases[] = {
        {"--{ Server.nothing; }--", undefined + "nothing"},
        {"--{ Server.Var('nothing'); }--", undefined + "Var"},
        {"--{ Server.Var(); }--", "Incorrect number of parameter."},
        {"--{ Server.SetVar('a'); }--", "Incorrect number of parameter."},
        {"--{ Server.CopyFile('a'); }--", "Missing parameter."},
        {"--{ Server.UseDataSource('ODBC'); }--", "Invalid ODBC connection string"},
        {"--{ Server.Task3Name; }--",
         "Default tasks missing. Please shutdown and restart server. "},
    };
    for (const Case& c : cases) {
        PageResult e = Run(c.page);
        EXPECT_EQ(e.m_code, 1) << c.page;
        EXPECT_TRUE(e.m_error.ends_with("\r\n\r\n" + c.message)) << e.m_error;
    }
}

TEST_F(ServerContextTest, TaskScriptsGoToTheTaskTable) {
    m_settings->SetDefaultTasks();
    const std::string script = m_root + "/webroot/script/";
    PageResult r =
        Run("<!--{ Server.SetVar('task3script', 'webroot/script/new.zrs'); "
            "Server.SetVar('ImporterScript', '" +
            script +
            "x/../i.zrs'); }-->--{ Server.Task3Script; }--|--{ Server.ImporterScript; "
            "}--|--{ Server.Var('task3script', '-'); }--|--{ Server.TaskEnabled('no "
            "such task'); }--");
    EXPECT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, script + "new.zrs|" + script + "i.zrs|-|0");
    {
        std::lock_guard lock(m_settings->TaskLock());
        EXPECT_EQ(m_settings->m_tasks[2].m_scriptPath, script + "new.zrs");
        EXPECT_EQ(m_settings->m_tasks[1].m_scriptPath, script + "i.zrs");
    }
    for (std::string outside :
         {std::string("/etc/evil.zrs"), std::string("../evil.zrs"), m_root + "/../evil.zrs"}) {
        PageResult e = Run("<!--{ Server.SetVar('Task4Script', '" + outside + "'); }-->");
        EXPECT_EQ(e.m_code, 1) << outside;
        EXPECT_TRUE(
            e.m_error.ends_with("A task script must lie inside the root folder: " + outside))
            << e.m_error;
    }
    std::lock_guard lock(m_settings->TaskLock());
    EXPECT_EQ(m_settings->m_tasks[3].m_scriptPath, m_root + "/webroot/script/escalator.zrs");
}

TEST_F(ServerContextTest, CopyFileStaysInsideTheWebRoot) {
    const std::string web = m_root + "/webroot";
    std::ofstream(web + "/a.txt") << "alpha";
    std::ofstream(m_root + "/secret.txt") << "secret";
    fs::create_directories(web + "/sub");
    struct Case {
        const char* from;
        const char* to;
        int result;
    };
    const Case cases[] = {
        {"a.txt", "b.txt", 1},
        {"/a.txt", "sub/./c.txt", 1},
        {"sub/../a.txt", "\\sub\\d.txt", 1},
        {"../secret.txt", "leak.txt", 0},
        {"sub/../../secret.txt", "leak.txt", 0},
        {"..\\secret.txt", "leak.txt", 0},
        {"a.txt", "../overwritten.txt", 0},
        {"", "leak.txt", 0},
        {"missing.txt", "e.txt", 0},
    };
    for (const Case& c : cases) {
        PageResult r =
            Run(std::string("--{ Server.CopyFile('") + c.from + "', '" + c.to + "'); }--");
        EXPECT_EQ(r.m_code, 0) << r.m_error;
        EXPECT_EQ(r.m_output, std::to_string(c.result)) << c.from << " -> " << c.to;
    }
    EXPECT_EQ(ReadFile(web + "/b.txt"), "alpha");
    EXPECT_EQ(ReadFile(web + "/sub/c.txt"), "alpha");
    EXPECT_EQ(ReadFile(web + "/sub/d.txt"), "alpha");
    EXPECT_FALSE(fs::exists(web + "/leak.txt"));
    EXPECT_FALSE(fs::exists(m_root + "/overwritten.txt"));

    // A link out of the web root is refused too.
    fs::create_directory_symlink(m_root, web + "/out");
    EXPECT_EQ(Run("--{ Server.CopyFile('out/secret.txt', 'leak.txt'); }--").m_output, "0");
    EXPECT_FALSE(fs::exists(web + "/leak.txt"));
}

class RecordingMailer : public CAdminMailer {
public:
    bool Send(const std::string& to, const std::string& subject,
              const std::string& content) override {
        m_sent += to + "|" + subject + "|" + content + ";";
        return true;
    }
    std::string m_sent;
};

TEST_F(ServerContextTest, SendMailNeedsHostAddressAndMailer) {
    const char* page = "--{ Server.SendMail('a@x', 'Subject', 'Body'); }--";
    EXPECT_EQ(Run(page).m_output, "0");  // no SMTP host, no mailer
    RecordingMailer mailer;
    m_context->SetAdminMailer(&mailer);
    m_settings->EmSmtpServer = "127.0.0.1";
    EXPECT_EQ(Run(page).m_output, "0");  // no administrator address
    m_settings->EmAdminEmail = "admin@x";
    EXPECT_EQ(Run(page).m_output, "1");
    EXPECT_EQ(mailer.m_sent, "a@x|Subject|Body;");
    PageResult few = Run("--{ Server.SendMail('a@x', 'Subject'); }--");
    EXPECT_EQ(few.m_code, 1);
    EXPECT_TRUE(few.m_error.ends_with("Missing parameter.")) << few.m_error;
    m_context->SetAdminMailer(nullptr);
}

TEST_F(ServerContextTest, ApplicationsByLongestPrefix) {
    m_context->InitApplication("/SHOP/cart/");
    m_context->InitApplication("/shop/");
    m_context->InitApplication("/");
    m_context->InitApplication("/shop/x");  // found under /shop/: nothing new
    EXPECT_EQ(m_context->GetAppInfo(), "/SHOP/cart/; /shop/; /; ");
    struct Case {
        const char* path;
        const char* app;
    };
    const Case cases[] = {
        {"/Shop/cart/pay.zrp", "/SHOP/cart/"},
        {"/shop/list.zrp", "/shop/"},
        {"/other/", "/"},
        {"", "/"},
    };
    for (const Case& c : cases) {
        CSspApplication* app = m_context->FindApplication(c.path);
        ASSERT_NE(app, nullptr) << c.path;
        EXPECT_EQ(app->GetName(), c.app) << c.path;
    }
    CServerContext bare(*m_settings);
    EXPECT_EQ(bare.FindApplication("/x"), nullptr);
}

TEST_F(ServerContextTest, AppObjectThroughPages) {
    PageResult before = Run("--{ App.IsValid; }--|--{ App.hits; }--", "/shop/a.zrp");
    EXPECT_EQ(before.m_output, "0|");
    EXPECT_TRUE(
        before.m_error.ends_with("Normally, app.init is called in index.zrp to "
                                 "initialize an application. "))
        << before.m_error;
    ASSERT_EQ(Run("<!--{ App.Init(); App.SetVar('Hits', 1); }-->", "/shop/index.zrp").m_code, 0);
    PageResult after =
        Run("<!--{ App.SetVar('hits', App.hits + 1); }-->--{ App.IsValid; }--|--{ App.Var('HITS'); "
            "}--|--{ App.VarExist('hits'); }--|--{ App.Var('none', 'dflt'); }--",
            "/shop/sub/b.zrp");
    EXPECT_EQ(after.m_code, 0) << after.m_error;
    EXPECT_EQ(after.m_output, "1|2|1|dflt");
    // Another prefix has no application yet.
    EXPECT_EQ(Run("--{ App.IsValid; }--", "/blog/a.zrp").m_output, "0");

    const std::string undefined = "App variable not defined. Use a set statement to define it: ";
    struct Case {
        const char* page;
        std::string message;
    };
    const Case cases[] = {
        {"--{ App.nothing; }--", undefined + "nothing"},
        {"--{ App.Var('nothing'); }--", undefined + "Var"},
        {"--{ App.Var(); }--", "Incorrect number of parameter."},
        {"--{ App.SetVar('a'); }--", "Incorrect number of parameter."},
        {"--{ App.VarExist(); }--", "Missing parameter."},
        {"--{ App.UseDataSource('a', 'b'); }--", "Missing parameter."},
    };
    for (const Case& c : cases) {
        PageResult e = Run(c.page, "/shop/c.zrp");
        EXPECT_EQ(e.m_code, 1) << c.page;
        EXPECT_TRUE(e.m_error.ends_with("\r\n\r\n" + c.message)) << e.m_error;
    }
}

TEST_F(ServerContextTest, AppUseDataSourceMapsTheApplication) {
    ASSERT_EQ(
        Run("<!--{ App.Init(); App.UseDataSource('dsn;x', 'me', 'p}w'); }-->", "/shop/index.zrp")
            .m_code,
        0);
    std::string found;
    ASSERT_TRUE(m_context->FindConnection("/shop/x.zrp", found));
    // Values that could end a key are braced, so a page cannot add keys of its own.
    EXPECT_EQ(found, "DSN={dsn;x};UID=me;PWD={p}}w}");
    if (!HaveSqlite()) {
        return;
    }
    PageResult late =
        Run("<!--{ App.Init(); sql c = 'select 1'; c.execute(); App.UseDataSource('ODBC;DSN=b'); "
            "}-->",
            "/x.zrp");
    EXPECT_EQ(late.m_code, 1);
    EXPECT_TRUE(late.m_error.ends_with(
        "UseDataSource can only be called before all SQL related statements."))
        << late.m_error;
}

TEST_F(ServerContextTest, RunLockFollowsDbAccessSerialize) {
    for (bool serialize : {true, false}) {
        m_settings->DbAccessSerialize = serialize;
        std::unique_lock<std::recursive_mutex> held = m_context->LockRun();
        EXPECT_EQ(held.owns_lock(), serialize);
        // Re-entrant on the same thread, as nested runs need.
        std::unique_lock<std::recursive_mutex> nested = m_context->LockRun();
        bool otherGotIt = false;
        std::thread other([&] {
            if (m_context->Lock().try_lock()) {
                otherGotIt = true;
                m_context->Lock().unlock();
            }
        });
        other.join();
        EXPECT_EQ(otherGotIt, !serialize);
    }
}

}  // namespace
