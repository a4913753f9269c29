#include "engine/foundation/GroupFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/foundation/FilePaths.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/foundation/WriteAll.h"

namespace {

std::string ErrnoText(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + SystemErrorText(errno);
}

}  // namespace

void UseGroupUmask() {
    ::umask(027);
}

bool MakeGroupFolder(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) != 0) {
        struct stat st {};
        return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    CUniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.Get() < 0) {
        return true;
    }
    // A parent without the setgid bit gave the folder the maker's group; the parent's is the
    // one the administrators share. A maker outside that group keeps its own.
    if (const std::optional<struct stat> parent = FileStatus(FolderOf(path))) {
        if (::fchown(folder.Get(), static_cast<uid_t>(-1), parent->st_gid) != 0) {
            return true;
        }
    }
    ::fchmod(folder.Get(), (mode & 0777) | S_ISGID);
    return true;
}

std::optional<struct stat> FileStatus(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return st;
}

bool TakeOwnership(int fd, const std::string& path, const std::optional<struct stat>& existing,
                   const std::string& groupSource, std::string& error) {
    struct stat wanted {};
    if (existing) {
        wanted = *existing;
    } else if (const std::optional<struct stat> source = FileStatus(groupSource)) {
        wanted = *source;
        wanted.st_uid = ::geteuid();
        wanted.st_mode = kGroupFileMode;
    } else {
        wanted.st_uid = ::geteuid();
        wanted.st_gid = ::getegid();
        wanted.st_mode = kGroupFileMode;
    }
    if (::fchown(fd, wanted.st_uid, wanted.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), wanted.st_gid) != 0 && existing) {
        error = ErrnoText("cannot keep the group of", path);
        return false;
    }
    // After the owner change, which may clear set-id bits.
    if (::fchmod(fd, wanted.st_mode & 07777) != 0) {
        error = ErrnoText("cannot set the mode of", path);
        return false;
    }
    return true;
}

bool ReplaceFileContents(const std::string& path, const std::string& tempPrefix,
                         const std::string& text, const std::optional<struct stat>& existing,
                         const std::string& groupSource, std::string& error) {
    std::string tempPath = tempPrefix + "XXXXXX";
    CUniqueFd temp(::mkostemp(tempPath.data(), O_CLOEXEC));
    if (temp.Get() < 0) {
        error = ErrnoText("cannot create", tempPath);
        return false;
    }
    if (!TakeOwnership(temp.Get(), path, existing, groupSource, error)) {
        ::unlink(tempPath.c_str());
        return false;
    }
    if (!WriteAll(temp.Get(), text) || ::fsync(temp.Get()) != 0) {
        error = ErrnoText("cannot write", tempPath);
        ::unlink(tempPath.c_str());
        return false;
    }
    if (::close(temp.Release()) != 0) {
        error = ErrnoText("cannot write", tempPath);
        ::unlink(tempPath.c_str());
        return false;
    }
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
        error = ErrnoText("cannot replace", path);
        ::unlink(tempPath.c_str());
        return false;
    }
    // The rename itself must survive a crash too.
    CUniqueFd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) {
        ::fsync(dir.Get());
    }
    return true;
}
