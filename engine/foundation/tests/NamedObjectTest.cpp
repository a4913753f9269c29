#include "engine/foundation/NamedObject.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/foundation/LogWriter.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"

namespace {

class CWakeFd {
public:
    CWakeFd() : m_fd(::eventfd(0, EFD_CLOEXEC)) {}
    ~CWakeFd() { ::close(m_fd); }
    int Get() const { return m_fd; }
    void Wake() {
        const uint64_t one = 1;
        ASSERT_EQ(::write(m_fd, &one, sizeof(one)), static_cast<ssize_t>(sizeof(one)));
    }

private:
    int m_fd;
};

TEST(NamedObjectTest, AddressIsScopedToTheRootAndFitsAnAbstractName) {
    const std::string longRoot = "/opt/" + std::string(200, 'x');
    struct Case {
        std::string root;
        std::string otherRoot;
    } cases[] = {
        {"/opt/velmorin", "/opt/velmorin2"},
        {longRoot + "a", longRoot + "b"},
    };
    for (const Case& c : cases) {
        const std::string a = NamedObjectAddress(c.root, "Tallgrove2stopEvent");
        EXPECT_LE(a.size(), 107u) << c.root;
        EXPECT_NE(a, NamedObjectAddress(c.otherRoot, "Tallgrove2stopEvent")) << c.root;
        EXPECT_NE(a, NamedObjectAddress(c.root, "Tallgrove2EnsureSingle")) << c.root;
        EXPECT_EQ(a, NamedObjectAddress(c.root, "Tallgrove2stopEvent")) << c.root;
    }
    EXPECT_EQ(NamedObjectAddress("/opt/v", "X"), "velmorin:X:/opt/v");
}

TEST(NamedObjectTest, MutexAdmitsOneHolderPerRootUntilReleased) {
    const CTempFolder folder;
    const std::string& root = folder.Path();
    CNamedMutex first;
    ASSERT_EQ(first.Create(root, "Tallgrove2EnsureSingle"), CNamedMutex::Result::kCreated);

    CNamedMutex second;
    EXPECT_EQ(second.Create(root, "Tallgrove2EnsureSingle"), CNamedMutex::Result::kExists);
    EXPECT_FALSE(second.IsHeld());

    CNamedMutex elsewhere;
    EXPECT_EQ(elsewhere.Create(root + "-other", "Tallgrove2EnsureSingle"),
              CNamedMutex::Result::kCreated);

    first.Close();
    EXPECT_EQ(second.Create(root, "Tallgrove2EnsureSingle"), CNamedMutex::Result::kCreated);
}

TEST(NamedObjectTest, MutexOfAProcessThatDiedIsFreeAtOnce) {
    const CTempFolder folder;
    const std::string& root = folder.Path();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CNamedMutex held;
        if (held.Create(root, "M") != CNamedMutex::Result::kCreated) {
            ::_exit(2);
        }
        ::pause();
        ::_exit(0);
    }
    // Wait until the child holds it, then kill it the hard way.
    CNamedMutex probe;
    for (int i = 0; i < 500 && probe.Create(root, "M") == CNamedMutex::Result::kCreated; ++i) {
        probe.Close();
        ::usleep(10000);
    }
    probe.Close();
    ASSERT_EQ(probe.Create(root, "M"), CNamedMutex::Result::kExists);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(probe.Create(root, "M"), CNamedMutex::Result::kCreated);
}

TEST(NamedObjectTest, EventExistsExactlyWhileCreated) {
    const CTempFolder folder;
    const std::string& root = folder.Path();
    EXPECT_FALSE(CNamedEvent::Exists(root, "E"));
    EXPECT_FALSE(CNamedEvent::Signal(root, "E"));
    unsigned uid = 12345;
    EXPECT_FALSE(CNamedEvent::HolderUid(root, "E", uid));
    {
        CNamedEvent event;
        ASSERT_TRUE(event.Create(root, "E"));
        EXPECT_TRUE(CNamedEvent::Exists(root, "E"));
        EXPECT_TRUE(CNamedEvent::HolderUid(root, "E", uid));
        EXPECT_EQ(uid, ::geteuid());
        CNamedEvent twin;
        EXPECT_FALSE(twin.Create(root, "E"));
        EXPECT_FALSE(CNamedEvent::Exists(root + "-other", "E"));
    }
    EXPECT_FALSE(CNamedEvent::Exists(root, "E"));
}

TEST(NamedObjectTest, SignalSetsTheEventAndItStaysSet) {
    const CTempFolder folder;
    const std::string& root = folder.Path();
    CNamedEvent event;
    ASSERT_TRUE(event.Create(root, "E"));
    ASSERT_TRUE(CNamedEvent::Signal(root, "E"));
    EXPECT_TRUE(event.Wait());
    EXPECT_TRUE(event.IsSet());
    // Manual reset: a second wait does not block.
    EXPECT_TRUE(event.Wait());
}

TEST(NamedObjectTest, ProbingForTheEventDoesNotSetIt) {
    const CTempFolder folder;
    const std::string& root = folder.Path();
    CNamedEvent event;
    ASSERT_TRUE(event.Create(root, "E"));
    ASSERT_TRUE(CNamedEvent::Exists(root, "E"));
    CWakeFd wake;
    wake.Wake();
    EXPECT_FALSE(event.Wait(wake.Get()));
    EXPECT_FALSE(event.IsSet());
}

TEST(NamedObjectTest, WakeEndsTheWaitWithoutSettingAndLocalSetEndsIt) {
    const CTempFolder folder;
    const std::string& root = folder.Path();
    CNamedEvent event;
    ASSERT_TRUE(event.Create(root, "E"));
    CWakeFd wake;
    wake.Wake();
    EXPECT_FALSE(event.Wait(wake.Get()));
    event.Set();
    EXPECT_TRUE(event.Wait(wake.Get()));
}

TEST(NamedObjectTest, SetFromAnotherUserIsRefusedAndLogged) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    auto log = std::make_unique<CCapturedLog>(g_log);
    const CTempFolder folder;
    const std::string& root = folder.Path();
    CNamedEvent event;
    ASSERT_TRUE(event.Create(root, "E"));

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(2);
        }
        ::_exit(CNamedEvent::Signal(root, "E") ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);  // the byte went out; the holder must ignore it

    CWakeFd wake;
    wake.Wake();
    EXPECT_FALSE(event.Wait(wake.Get()));
    EXPECT_FALSE(event.IsSet());
    EXPECT_TRUE(log->HasPrefix("Stop request refused: process "));

    // The same user is still heard.
    ASSERT_TRUE(CNamedEvent::Signal(root, "E"));
    EXPECT_TRUE(event.Wait());
    g_log.SetFolder("");
}

}  // namespace
