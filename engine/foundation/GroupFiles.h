// Files that can hold a password, data or request lines belong to the installation's
// administrators alone: their owner and the group of the installation root. A new file is
// 0640, a new folder 0750 with the setgid bit (so what is made in it takes its group), and a
// rewrite keeps the mode, owner and group of the file it replaces.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

constexpr mode_t kGroupFileMode = 0640;
constexpr mode_t kGroupFolderMode = 0750;
// tmp/: members of the group (the studio's authors) write there too.
constexpr mode_t kSharedFolderMode = 0770;

// Each program calls this first, so nothing it or a library creates is readable by others.
void UseGroupUmask();

// Makes one folder level with `mode` (the umask aside), the group of its parent and the
// setgid bit. True when the folder exists afterwards, made now or before.
bool MakeGroupFolder(const std::string& path, mode_t mode = kGroupFolderMode);

// The status of the file at `path`; none when it does not exist or cannot be read.
std::optional<struct stat> FileStatus(const std::string& path);

// Gives the file open as `fd` the mode, owner and group of `existing`, or for a new file
// (none) mode 0640 and the group of `groupSource`. Only root may give a file away, so another
// user's rewrite keeps the group and takes the owner; a group the writer cannot keep fails
// with a reason in `error` rather than lock the group's members out.
bool TakeOwnership(int fd, const std::string& path, const std::optional<struct stat>& existing,
                   const std::string& groupSource, std::string& error);

// Puts `text` in place of the file at `path` so that a reader sees the old file or the whole
// new one, even after a crash: a temporary file `tempPrefix` + six random characters in the
// same folder, with the ownership above, written, synced and renamed over `path`. On failure
// the file is untouched, no temporary file is left and `error` says why.
bool ReplaceFileContents(const std::string& path, const std::string& tempPrefix,
                         const std::string& text, const std::optional<struct stat>& existing,
                         const std::string& groupSource, std::string& error);
