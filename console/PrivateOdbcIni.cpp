#include "console/PrivateOdbcIni.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>

#include "engine/foundation/FilePaths.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"

bool EnsurePrivateOdbcIni(std::string& error) {
    const char* path = ::getenv("ODBCINI");
    return path == nullptr || *path == '\0' || EnsurePrivateOdbcIni(path, error);
}

bool EnsurePrivateOdbcIni(const std::string& path, std::string& error) {
    CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kGroupFileMode));
    if (fd.Get() < 0) {
        if (errno == EEXIST) {
            return true;
        }
        error = "Failed to create " + path + ": " + FormatSystemError(errno);
        return false;
    }
    // A group this user cannot give leaves the file in the user's own group: still private.
    return TakeOwnership(fd.Get(), path, std::nullopt, FolderOf(FolderOf(path)), error);
}
