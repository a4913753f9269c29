#include "engine/foundation/NamedObject.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/foundation/GroupMember.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/UniqueFd.h"

namespace {

// How long a peer that connected may take to send its byte.
constexpr int kRequestWaitMs = 1000;

// The folder is the gate: within it every administrator may reach an object.
constexpr mode_t kSocketMode = 0666;
constexpr mode_t kLockMode = 0660;
constexpr mode_t kFolderMode = 0770;

// Said where the user and the administrator look.
void Report(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    g_log.LogText(text);
}

// Root, this process's user, the root folder's owner or a member of its group.
bool IsInstallationUser(uid_t uid, const struct stat& root) {
    return uid == 0 || uid == ::geteuid() || uid == root.st_uid || IsGroupMember(uid, root.st_gid);
}

bool RootStat(int folder, struct stat& root) {
    return ::fstatat(folder, "..", &root, 0) == 0;
}

// The object's address: short whatever the root's length.
socklen_t MakeAddress(int folder, const std::string& name, sockaddr_un& address) {
    const std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    const size_t length = std::min(path.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path, path.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + 1);
}

// An flock on tmp/<name>.lock; -1 with errno set (EWOULDBLOCK when another holds it). A
// lock file of a user outside the installation is replaced: whoever holds it is not a
// holder of this installation's name.
int LockNamed(int folder, const std::string& name) {
    const std::string file = name + ".lock";
    for (int attempt = 0; attempt < 2; ++attempt) {
        CUniqueFd fd(
            ::openat(folder, file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockMode));
        if (fd.Get() < 0) {
            return -1;
        }
        struct stat lock {};
        struct stat root {};
        if (::fstat(fd.Get(), &lock) != 0 || !RootStat(folder, root)) {
            return -1;
        }
        if (!IsInstallationUser(lock.st_uid, root)) {
            Report(name + " is held by uid " + std::to_string(lock.st_uid) +
                   ", not by this installation; its lock file is replaced.");
            ::unlinkat(folder, file.c_str(), 0);
            continue;
        }
        ::fchmod(fd.Get(), kLockMode);
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            return -1;
        }
        return fd.Release();
    }
    errno = EPERM;
    return -1;
}

}  // namespace

int OpenObjectFolder(const std::string& root, bool create) {
    CUniqueFd top(::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat rootStat {};
    if (top.Get() < 0 || ::fstat(top.Get(), &rootStat) != 0) {
        return -1;
    }
    bool made = false;
    if (create && ::mkdirat(top.Get(), "tmp", kFolderMode) == 0) {
        made = true;
    }
    CUniqueFd folder(::openat(top.Get(), "tmp", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat folderStat {};
    if (folder.Get() < 0 || ::fstat(folder.Get(), &folderStat) != 0) {
        return -1;
    }
    if (made) {
        // The installation's group, whatever this user's own group and umask.
        if (::fchown(folder.Get(), static_cast<uid_t>(-1), rootStat.st_gid) == 0) {
            folderStat.st_gid = rootStat.st_gid;
        }
        if (::fchmod(folder.Get(), kFolderMode) == 0) {
            folderStat.st_mode = (folderStat.st_mode & ~07777) | kFolderMode;
        }
    }
    const bool ownerTrusted = folderStat.st_uid == 0 || folderStat.st_uid == ::geteuid() ||
                              folderStat.st_uid == rootStat.st_uid;
    const bool groupTrusted =
        (folderStat.st_mode & S_IWGRP) == 0 || folderStat.st_gid == rootStat.st_gid;
    if (!ownerTrusted || !groupTrusted || (folderStat.st_mode & S_IWOTH) != 0) {
        Report(root +
               "/tmp can be written by users outside the installation; make it 0770 "
               "with the root folder's group.");
        errno = EPERM;
        return -1;
    }
    return folder.Release();
}

int ConnectNamedObject(const std::string& root, const std::string& name) {
    CUniqueFd folder(OpenObjectFolder(root, false));
    if (folder.Get() < 0) {
        return -1;
    }
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        return -1;
    }
    sockaddr_un address;
    const socklen_t length = MakeAddress(folder.Get(), name, address);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return -1;
    }
    ucred cred{};
    socklen_t credLength = sizeof(cred);
    struct stat rootStat {};
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &credLength) != 0 ||
        !RootStat(folder.Get(), rootStat)) {
        return -1;
    }
    if (!IsInstallationUser(cred.uid, rootStat)) {
        Report(name + " is held by uid " + std::to_string(cred.uid) +
               ", not by this installation.");
        errno = EPERM;
        return -1;
    }
    return fd.Release();
}

CNamedMutex::~CNamedMutex() {
    Close();
}

CNamedMutex::Result CNamedMutex::Create(const std::string& root, const std::string& name) {
    Close();
    CUniqueFd folder(OpenObjectFolder(root, true));
    if (folder.Get() < 0) {
        return Result::kError;
    }
    m_fd.Reset(LockNamed(folder.Get(), name));
    if (m_fd.Get() >= 0) {
        return Result::kCreated;
    }
    return errno == EWOULDBLOCK ? Result::kExists : Result::kError;
}

void CNamedMutex::Close() {
    m_fd.Reset();
}

CNamedEvent::~CNamedEvent() {
    Close();
}

bool CNamedEvent::Create(const std::string& root, const std::string& name) {
    Close();
    m_set = false;
    m_folder.Reset(OpenObjectFolder(root, true));
    if (m_folder.Get() < 0) {
        return false;
    }
    m_lock.Reset(LockNamed(m_folder.Get(), name));
    if (m_lock.Get() < 0) {
        if (errno == EWOULDBLOCK) {
            errno = EADDRINUSE;
        }
        Close();
        return false;
    }
    // The lock is ours, so a socket file left there is a dead holder's.
    ::unlinkat(m_folder.Get(), name.c_str(), 0);
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address;
    const socklen_t length = MakeAddress(m_folder.Get(), name, address);
    if (fd.Get() < 0 ||
        ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::fchmodat(m_folder.Get(), name.c_str(), kSocketMode, 0) != 0 ||
        ::listen(fd.Get(), 16) != 0) {
        const int error = errno;
        Close();
        errno = error;
        return false;
    }
    m_fd = std::move(fd);
    m_name = name;
    return true;
}

void CNamedEvent::Close() {
    if (m_fd.Get() >= 0 && m_folder.Get() >= 0) {
        ::unlinkat(m_folder.Get(), m_name.c_str(), 0);
    }
    m_fd.Reset();
    m_lock.Reset();
    m_folder.Reset();
    m_name.clear();
}

bool CNamedEvent::Wait(int wakeFd) {
    while (!m_set) {
        if (m_fd.Get() < 0) {
            errno = EBADF;
            return false;
        }
        pollfd fds[2] = {{m_fd.Get(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int rc = ::poll(fds, wakeFd >= 0 ? 2 : 1, -1);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;  // a signal's handler writes to wakeFd when it matters
            }
            return false;
        }
        // Requests first: a set that arrived with the wake is not lost.
        if ((fds[0].revents & POLLIN) != 0) {
            TakeRequest();
            continue;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            errno = EIO;
            return false;
        }
        if (wakeFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            return m_set;
        }
    }
    return true;
}

bool CNamedEvent::TakeRequest() {
    CUniqueFd peer(::accept4(m_fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (peer.Get() < 0) {
        return false;
    }
    ucred cred{};
    socklen_t length = sizeof(cred);
    if (::getsockopt(peer.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) {
        return false;
    }
    if (cred.uid != ::geteuid() && cred.uid != 0) {
        g_log.Log("Stop request refused: process %ld of user %lu is neither this user nor root.",
                  static_cast<long>(cred.pid), static_cast<unsigned long>(cred.uid));
        return false;
    }
    // A peer that only tests whether the event exists closes without a byte.
    pollfd fd = {peer.Get(), POLLIN, 0};
    if (::poll(&fd, 1, kRequestWaitMs) <= 0) {
        return false;
    }
    char byte = 0;
    if (::recv(peer.Get(), &byte, 1, MSG_DONTWAIT) == 1) {
        m_set = true;
    }
    return m_set;
}

bool CNamedEvent::Exists(const std::string& root, const std::string& name) {
    CUniqueFd fd(ConnectNamedObject(root, name));
    return fd.Get() >= 0;
}

bool CNamedEvent::Signal(const std::string& root, const std::string& name) {
    CUniqueFd fd(ConnectNamedObject(root, name));
    if (fd.Get() < 0) {
        return false;
    }
    const char byte = 1;
    return ::send(fd.Get(), &byte, 1, MSG_NOSIGNAL) == 1;
}

bool CNamedEvent::HolderUid(const std::string& root, const std::string& name, unsigned& uid) {
    CUniqueFd fd(ConnectNamedObject(root, name));
    ucred cred{};
    socklen_t length = sizeof(cred);
    if (fd.Get() < 0 || ::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) {
        return false;
    }
    uid = cred.uid;
    return true;
}
