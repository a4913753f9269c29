#include "console/PrivateOdbcIni.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"

namespace {

constexpr mode_t kNewIniMode = 0640;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool EnsurePrivateOdbcIni(std::string& error) {
    const char* path = ::getenv("ODBCINI");
    return path == nullptr || *path == '\0' || EnsurePrivateOdbcIni(path, error);
}

bool EnsurePrivateOdbcIni(const std::string& path, std::string& error) {
    CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewIniMode));
    if (fd.Get() < 0) {
        if (errno == EEXIST) {
            return true;
        }
        error = "Failed to create " + path + ": " + FormatSystemError(errno);
        return false;
    }
    struct stat root {};
    if (::stat(FolderOf(FolderOf(path)).c_str(), &root) == 0 &&
        ::fchown(fd.Get(), static_cast<uid_t>(-1), root.st_gid) != 0) {
        // A group this user cannot give leaves the file in the user's own group: still private.
    }
    // The umask may have taken the group's read.
    if (::fchmod(fd.Get(), kNewIniMode) != 0) {
        error = "Failed to set the mode of " + path + ": " + FormatSystemError(errno);
        return false;
    }
    return true;
}
