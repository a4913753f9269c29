#include "engine/settings/RootFolder.h"

#include <unistd.h>

#include <atomic>
#include <climits>

std::string RootFolderOf(const std::string& programPath) {
    const size_t fileSlash = programPath.rfind('/');
    if (fileSlash == std::string::npos || fileSlash == 0) {
        return std::string();
    }
    const size_t folderSlash = programPath.rfind('/', fileSlash - 1);
    if (folderSlash == std::string::npos) {
        return std::string();
    }
    return programPath.substr(0, folderSlash);
}

std::string GetRootFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return std::string();
    }
    return RootFolderOf(std::string(buffer, static_cast<size_t>(n)));
}

namespace {

std::string s_rootDir = GetRootFolder();
std::atomic<bool> s_rootSet{false};

}  // namespace

const std::string& g_rootDir = s_rootDir;

bool SetRootFolder(const std::string& rootFolder) {
    if (s_rootSet.exchange(true)) {
        return false;
    }
    s_rootDir = rootFolder;
    return true;
}
