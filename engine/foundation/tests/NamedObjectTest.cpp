#include "engine/foundation/NamedObject.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/UniqueFd.h"
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

// A root far longer than a socket address holds still gets its objects, and two roots
// that differ only at the end never meet.
TEST(NamedObjectTest, ObjectsOfLongRootsWorkAndStayApart) {
    const CTempFolder folder;
    const std::string longRoot = folder.File(std::string(150, 'x'));
    for (const std::string& root : {longRoot + "a", longRoot + "b"}) {
        ASSERT_EQ(::mkdir(root.c_str(), 0755), 0) << root;
    }
    CNamedEvent event;
    ASSERT_TRUE(event.Create(longRoot + "a", "Tallgrove2stopEvent"));
    EXPECT_TRUE(CNamedEvent::Exists(longRoot + "a", "Tallgrove2stopEvent"));
    EXPECT_FALSE(CNamedEvent::Exists(longRoot + "b", "Tallgrove2stopEvent"));
    EXPECT_FALSE(CNamedEvent::Exists(longRoot + "a", "Tallgrove2EnsureSingle"));
    ASSERT_TRUE(CNamedEvent::Signal(longRoot + "a", "Tallgrove2stopEvent"));
    EXPECT_TRUE(event.Wait());
}

TEST(NamedObjectTest, MutexAdmitsOneHolderPerRootUntilReleased) {
    const CTempFolder folder;
    const std::string& root = folder.Path();
    CNamedMutex first;
    ASSERT_EQ(first.Create(root, "Tallgrove2EnsureSingle"), CNamedMutex::Result::kCreated);

    CNamedMutex second;
    EXPECT_EQ(second.Create(root, "Tallgrove2EnsureSingle"), CNamedMutex::Result::kExists);
    EXPECT_FALSE(second.IsHeld());

    const CTempFolder otherFolder;
    CNamedMutex elsewhere;
    EXPECT_EQ(elsewhere.Create(otherFolder.Path(), "Tallgrove2EnsureSingle"),
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
        // The parent's probe holds the name for a moment at a time: try again meanwhile.
        CNamedMutex held;
        CNamedMutex::Result result = held.Create(root, "M");
        for (int i = 0; i < 500 && result == CNamedMutex::Result::kExists; ++i) {
            ::usleep(1000);
            result = held.Create(root, "M");
        }
        if (result != CNamedMutex::Result::kCreated) {
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
    // The other user is of the root's group, an administrator who is not the server's user.
    ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
    for (const std::string& path : {root, folder.File("tmp")}) {
        ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), 65534), 0);
    }

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

// Only root can make the files and processes of other users.
class NamedObjectStrangerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root to act as another user";
        }
        ASSERT_EQ(::chmod(m_folder.Path().c_str(), 0755), 0);
    }
    std::string Tmp() const { return m_folder.File("tmp"); }

    CTempFolder m_folder;
    CCapturedLog m_log{g_log};
};

// tmp/ is made for the installation when missing, and a tmp/ others may write to is not
// believed: no object is made there and none found.
TEST_F(NamedObjectStrangerTest, ObjectFolderIsTheInstallationsOwn) {
    const std::string& root = m_folder.Path();
    ASSERT_EQ(::chown(root.c_str(), static_cast<uid_t>(-1), 65534), 0);
    CNamedMutex mutex;
    ASSERT_EQ(mutex.Create(root, "M"), CNamedMutex::Result::kCreated);
    struct stat tmp {};
    ASSERT_EQ(::stat(Tmp().c_str(), &tmp), 0);
    EXPECT_EQ(tmp.st_mode & 07777, 0770u);
    EXPECT_EQ(tmp.st_gid, 65534u);
    mutex.Close();

    for (const mode_t mode : {0777, 0773}) {
        ASSERT_EQ(::chmod(Tmp().c_str(), mode), 0);
        EXPECT_EQ(mutex.Create(root, "M"), CNamedMutex::Result::kError) << mode;
        CNamedEvent event;
        EXPECT_FALSE(event.Create(root, "E")) << mode;
        EXPECT_FALSE(CNamedEvent::Exists(root, "E")) << mode;
    }
    EXPECT_TRUE(m_log.HasLine(root + "/tmp can be written by users outside the installation; "
                                     "make it 0770 with the root folder's group."));
}

// Another user of the host can neither take a name nor pass for its holder.
TEST_F(NamedObjectStrangerTest, AStrangerNeitherTakesNorHoldsAName) {
    const std::string& root = m_folder.Path();
    CNamedMutex mine;
    ASSERT_EQ(mine.Create(root, "Probe"), CNamedMutex::Result::kCreated);  // makes tmp/
    mine.Close();

    // As the stranger: taking the names fails.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(2);
        }
        CNamedMutex mutex;
        CNamedEvent event;
        const bool took =
            mutex.Create(root, "M") == CNamedMutex::Result::kCreated || event.Create(root, "E");
        ::_exit(took ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // A lock file left by the stranger, held: replaced, and the name is ours.
    const std::string lock = Tmp() + "/M.lock";
    CUniqueFd squat(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    ASSERT_GE(squat.Get(), 0);
    ASSERT_EQ(::fchown(squat.Get(), 65534, 65534), 0);
    ASSERT_EQ(::flock(squat.Get(), LOCK_EX | LOCK_NB), 0);
    CNamedMutex mutex;
    EXPECT_EQ(mutex.Create(root, "M"), CNamedMutex::Result::kCreated);
    EXPECT_TRUE(
        m_log.HasLine("M is held by uid 65534, not by this installation; its lock file "
                      "is replaced."));

    // A socket on the event's name listened on by the stranger is no event.
    const std::string path = Tmp() + "/E";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.data(), path.size());
    CUniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::chmod(path.c_str(), 0666);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0 ||
            ::listen(listener.Get(), 4) != 0) {
            ::_exit(2);
        }
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    EXPECT_FALSE(CNamedEvent::Exists(root, "E"));
    EXPECT_FALSE(CNamedEvent::Signal(root, "E"));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, &status, 0);
    EXPECT_TRUE(m_log.HasLine("E is held by uid 65534, not by this installation."));
}

}  // namespace
