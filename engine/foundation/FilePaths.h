#pragma once

#include <sys/types.h>

#include <string>

#include "engine/foundation/LogWriter.h"

// File-system helpers shared by the engine. Paths use '/'.

// The folder part of `path`: "." for a bare name, "/" for a name at the top.
std::string FolderOf(const std::string& path);

// True when `path` names a directory. A last component holding the wildcards '*' or '?'
// answers for the first matching entry in name order only (false when nothing matches).
bool DirectoryExists(const std::string& path);

// True when the directory exists or was created now (one level: the parent must exist). A new
// folder gets `mode`, its parent's group and the setgid bit (see GroupFiles.h).
bool EnsureDirectory(const std::string& path, mode_t mode = 0750);

// Deletes a file, first making it writable when it is read-only (other permission bits
// kept). Logs "<system error> when getting attributes of <path>" or "... when setting
// attributes of <path>" to `log` and returns false when those steps fail; a failed delete
// itself returns false without a log line.
bool ForceDeleteFile(const std::string& path, CLogWriter& log = g_log);

// Folds ".." segments out of a relative path before a page includes or opens a file: each
// ".." removes the segment before it together with the separator between them, and the
// separator run after it. A ".." with nothing left to remove is dropped, so the result never
// climbs above where the path starts. Separators ('/' and '\' alike) are kept as written.
std::string NormalizePath(const std::string& path);
