#include "engine/foundation/FilePaths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/Tokenizer.h"

namespace {

// '*' any run, '?' any one character; nothing else is special.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::string_view::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool IsSeparator(char ch) {
    return ch == '/' || ch == '\\';
}

}  // namespace

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool DirectoryExists(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    if (last.find_first_of("*?") == std::string::npos) {
        return !path.empty() && IsDirectory(path);
    }
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::unique_ptr<DIR, DirCloser> dir(::opendir(parent.c_str()));
    if (!dir) {
        return false;
    }
    std::string first;
    bool found = false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || !WildcardMatch(last, name)) {
            continue;
        }
        if (!found || name < first) {
            first = name;
            found = true;
        }
    }
    return found && IsDirectory(parent + first);
}

bool EnsureDirectory(const std::string& path, mode_t mode) {
    if (DirectoryExists(path)) {
        return true;
    }
    // Another thread or program may create it at the same moment: that is success too.
    return MakeGroupFolder(path, mode);
}

bool ForceDeleteFile(const std::string& path, CLogWriter& log) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        log.Log("%s when getting attributes of %s", FormatSystemError(errno).c_str(), path.c_str());
        return false;
    }
    // A link is deleted itself; its target's permissions are not ours to change.
    if (!S_ISLNK(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
        if (::chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR) != 0) {
            log.Log("%s when setting attributes of %s", FormatSystemError(errno).c_str(),
                    path.c_str());
            return false;
        }
    }
    return ::unlink(path.c_str()) == 0;
}

std::string NormalizePath(const std::string& path) {
    CTokenizer tokenizer(path.c_str(), "/\\", false);
    // Segments and separator runs, alternating as the tokenizer yields them.
    std::vector<std::string> kept;
    for (std::string token = tokenizer.NextToken(); !token.empty(); token = tokenizer.NextToken()) {
        if (token != "..") {
            kept.push_back(std::move(token));
            continue;
        }
        // Drop "segment separator" before the "..", but never a leading separator alone.
        if (kept.size() >= 2 && IsSeparator(kept.back()[0]) &&
            !IsSeparator(kept[kept.size() - 2][0])) {
            kept.pop_back();
            kept.pop_back();
        }
        tokenizer.NextToken();  // the separator run after ".."
    }
    std::string result;
    for (const std::string& token : kept) {
        result += token;
    }
    return result;
}
