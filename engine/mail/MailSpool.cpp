#include "engine/mail/MailSpool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "engine/foundation/FilePaths.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/settings/RootFolder.h"

namespace {

std::string MailFolder(const std::string& root, const std::string& sub) {
    return root + "/mail/" + sub;
}

// Renames without ever replacing the target. Returns 0 or the errno.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    unlink(from.c_str());
    return 0;
}

// Where to start looking for a free number for a folder's current stamp, so
// that many files queued in one second do not probe every taken name again.
class CNumberHints {
public:
    int Start(const std::string& folder, const std::string& stamp) {
        std::lock_guard lock(m_mutex);
        auto& hint = m_hints[folder];
        return hint.first == stamp ? hint.second : 0;
    }
    void Taken(const std::string& folder, const std::string& stamp, int number) {
        std::lock_guard lock(m_mutex);
        auto& hint = m_hints[folder];
        if (hint.first != stamp || hint.second <= number) {
            hint = {stamp, number + 1};
        }
    }

private:
    std::mutex m_mutex;
    std::unordered_map<std::string, std::pair<std::string, int>> m_hints;
};

CNumberHints& NumberHints() {
    static CNumberHints hints;
    return hints;
}

std::string NumberedName(const std::string& folder, const std::string& stamp, int number,
                         const std::string& extension) {
    std::string name = folder + "/" + stamp;
    if (number > 0) {
        name += "-" + std::to_string(number);
    }
    return name + "." + extension;
}

}  // namespace

bool IsMailFolderName(const std::string& sub) {
    return !sub.empty() && sub != "." && sub != ".." &&
           sub.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool CreateMailFolder(const std::string& root, const std::string& sub) {
    // A script-chosen folder name must not reach outside mail/.
    if (!IsMailFolderName(sub)) {
        return false;
    }
    return EnsureDirectory(root + "/mail") && EnsureDirectory(MailFolder(root, sub));
}

std::string MailFileStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return stamp;
}

CNewMailFile::~CNewMailFile() {
    Abandon();
}

bool CNewMailFile::Open(const std::string& root, const std::string& sub,
                        const std::string& extension, CLogWriter& log, const MailClock& clock) {
    Abandon();
    m_strFolder = MailFolder(root, sub);
    m_strStamp = MailFileStamp(clock ? clock() : std::time(nullptr));
    m_strExtension = extension;
    m_bWriteFailed = false;

    // The temporary name starts with a dot and has no mail extension, so no
    // reader of the spool ever takes a file that is still being written.
    // The lock marks the file as in use until it is published or dropped. A start-up
    // clean-up may take the file between its creation and the lock: then it is gone (or
    // going) and another is made.
    auto makeTemp = [this] {
        for (;;) {
            std::string pattern = m_strFolder + "/.new-" + m_strStamp + "-XXXXXX";
            CUniqueFd fd(mkostemp(pattern.data(), O_CLOEXEC));
            if (fd.Get() < 0) {
                return false;
            }
            int locked;
            while ((locked = flock(fd.Get(), LOCK_EX)) != 0 && errno == EINTR) {
            }
            if (locked != 0) {
                unlink(pattern.c_str());
                return false;
            }
            struct stat st {};
            if (fstat(fd.Get(), &st) == 0 && st.st_nlink > 0) {
                fchmod(fd.Get(), kGroupFileMode);
                m_fd = std::move(fd);
                m_strTempPath = pattern;
                return true;
            }
        }
    };
    if (makeTemp()) {
        return true;
    }
    if (!CreateMailFolder(root, sub)) {
        log.Log("Failed to create mail folders: %s", m_strFolder.c_str());
        return false;
    }
    if (!makeTemp()) {
        log.LogRaw("Failed to create %s\r\n",
                   NumberedName(m_strFolder, m_strStamp, 0, m_strExtension).c_str());
        return false;
    }
    return true;
}

void CNewMailFile::Write(const std::string& bytes) {
    Write(bytes.data(), bytes.size());
}

void CNewMailFile::Write(const char* data, size_t length) {
    if (m_fd.Get() < 0) {
        m_bWriteFailed = true;
        return;
    }
    while (length > 0 && !m_bWriteFailed) {
        ssize_t written = ::write(m_fd.Get(), data, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            m_bWriteFailed = true;
            break;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
}

bool CNewMailFile::Commit(CLogWriter& log, std::string* path) {
    if (m_fd.Get() < 0) {
        return false;
    }
    // The descriptor, and with it the in-use lock, stays open until the file has
    // its final name, so no clean-up takes it in between.
    CUniqueFd fd(std::move(m_fd));
    if (m_bWriteFailed || fsync(fd.Get()) != 0) {
        log.Log("Failed to create %s", m_strTempPath.c_str());
        Abandon();
        return false;
    }
    for (int number = NumberHints().Start(m_strFolder, m_strStamp);; ++number) {
        std::string candidate = NumberedName(m_strFolder, m_strStamp, number, m_strExtension);
        int error = RenameNoReplace(m_strTempPath, candidate);
        if (error == 0) {
            NumberHints().Taken(m_strFolder, m_strStamp, number);
            m_strTempPath.clear();
            if (path != nullptr) {
                *path = candidate;
            }
            return true;
        }
        if (error != EEXIST) {
            log.Log("Failed to create %s", candidate.c_str());
            Abandon();
            return false;
        }
    }
}

void CNewMailFile::Abandon() {
    m_fd.Reset();
    if (!m_strTempPath.empty()) {
        unlink(m_strTempPath.c_str());
        m_strTempPath.clear();
    }
}

bool MoveMailFile(const std::string& root, const std::string& path, const std::string& sub,
                  CLogWriter& log) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        log.Log("Failed to find the file name when moving files");
        return false;
    }
    std::string name = path.substr(slash + 1);
    if (!CreateMailFolder(root, sub)) {
        log.Log("Failed to create deleted mail folder");
        return false;
    }
    std::string folder = MailFolder(root, sub);
    std::string target = folder + "/" + name;
    auto moveFailed = [&](int error) {
        log.Log("Failed to move %s to %s. %s", path.c_str(), target.c_str(),
                FormatSystemError(error).c_str());
        return false;
    };
    int error = RenameNoReplace(path, target);
    if (error == 0) {
        return true;
    }
    if (error != EEXIST) {
        return moveFailed(error);
    }
    if (sub == "sent") {
        // Sent mail is only an archive: the newer copy wins, as it always did.
        log.Log("%s %s %s", FormatSystemError(error).c_str(), target.c_str(),
                " will be deleted because a new file with same name needs to be moved in to the "
                "same folder.");
        if (!ForceDeleteFile(target, log)) {
            log.Log("Failed to delete %s. %s", target.c_str(), FormatSystemError(errno).c_str());
        }
        error = RenameNoReplace(path, target);
        if (error != 0) {
            return moveFailed(error);
        }
        return true;
    }
    // Anywhere else the earlier mail is kept and the moved one takes a free number.
    size_t dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (int number = 1;; ++number) {
        target = folder + "/" + base + "-" + std::to_string(number) + extension;
        error = RenameNoReplace(path, target);
        if (error == 0) {
            return true;
        }
        if (error != EEXIST) {
            return moveFailed(error);
        }
    }
}

bool MoveMailFile(const std::string& path, const std::string& sub) {
    return MoveMailFile(g_rootDir, path, sub, g_log);
}

int RemoveMailSpoolLeftovers(const std::string& root) {
    int removed = 0;
    const std::string spool = root + "/mail";
    DIR* folders = opendir(spool.c_str());
    if (folders == nullptr) {
        return 0;
    }
    while (const struct dirent* sub = readdir(folders)) {
        const std::string folder = spool + "/" + sub->d_name;
        DIR* files = IsMailFolderName(sub->d_name) ? opendir(folder.c_str()) : nullptr;
        if (files == nullptr) {
            continue;
        }
        while (const struct dirent* entry = readdir(files)) {
            const std::string name = entry->d_name;
            if (!name.starts_with(".new-")) {
                continue;
            }
            CUniqueFd fd(openat(dirfd(files), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            struct stat st {};
            // A writer still at work holds its lock; one that died holds nothing, whenever
            // it last wrote.
            if (fd.Get() >= 0 && fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) &&
                flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 &&
                unlinkat(dirfd(files), name.c_str(), 0) == 0) {
                ++removed;
            }
        }
        closedir(files);
    }
    closedir(folders);
    return removed;
}
