#include "engine/foundation/NamedObject.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/UniqueFd.h"

namespace {

// An abstract name fills sun_path after its leading NUL.
constexpr size_t kMaxAbstractName = sizeof(sockaddr_un::sun_path) - 1;

// How long a peer that connected may take to send its byte.
constexpr int kRequestWaitMs = 1000;

socklen_t MakeAddress(const std::string& root, const std::string& name, sockaddr_un& address) {
    const std::string text = NamedObjectAddress(root, name);
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, text.data(), text.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
}

// A socket bound to the object's name; -1 with errno set on failure.
int BindNamed(const std::string& root, const std::string& name, bool listening) {
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        return -1;
    }
    sockaddr_un address;
    const socklen_t length = MakeAddress(root, name, address);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return -1;
    }
    if (listening && ::listen(fd.Get(), 16) != 0) {
        return -1;
    }
    return fd.Release();
}

// A connected socket to the object's name, or -1.
int ConnectNamed(const std::string& root, const std::string& name) {
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        return -1;
    }
    sockaddr_un address;
    const socklen_t length = MakeAddress(root, name, address);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return -1;
    }
    return fd.Release();
}

}  // namespace

std::string NamedObjectAddress(const std::string& root, const std::string& name) {
    std::string text = "velmorin:" + name + ":" + root;
    if (text.size() <= kMaxAbstractName) {
        return text;
    }
    // FNV-1a: stable across programs and builds, which is all the name needs.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : root) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char digits[17];
    std::snprintf(digits, sizeof(digits), "%016llx", static_cast<unsigned long long>(hash));
    text = "velmorin:" + name + "#" + digits;
    if (text.size() > kMaxAbstractName) {
        text.resize(kMaxAbstractName);
    }
    return text;
}

CNamedMutex::~CNamedMutex() {
    Close();
}

CNamedMutex::Result CNamedMutex::Create(const std::string& root, const std::string& name) {
    Close();
    m_fd.Reset(BindNamed(root, name, false));
    if (m_fd.Get() >= 0) {
        return Result::kCreated;
    }
    return errno == EADDRINUSE ? Result::kExists : Result::kError;
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
    m_fd.Reset(BindNamed(root, name, true));
    return m_fd.Get() >= 0;
}

void CNamedEvent::Close() {
    m_fd.Reset();
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
    CUniqueFd fd(ConnectNamed(root, name));
    return fd.Get() >= 0;
}

bool CNamedEvent::Signal(const std::string& root, const std::string& name) {
    CUniqueFd fd(ConnectNamed(root, name));
    if (fd.Get() < 0) {
        return false;
    }
    const char byte = 1;
    return ::send(fd.Get(), &byte, 1, MSG_NOSIGNAL) == 1;
}

bool CNamedEvent::HolderUid(const std::string& root, const std::string& name, unsigned& uid) {
    CUniqueFd fd(ConnectNamed(root, name));
    ucred cred{};
    socklen_t length = sizeof(cred);
    if (fd.Get() < 0 || ::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) {
        return false;
    }
    uid = cred.uid;
    return true;
}
