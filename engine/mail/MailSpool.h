// The mail spool: every mail file lives under <root>/mail/<sub>/, named after
// the moment it was created ("%Y%m%d-%H%M%S", then "-1", "-2", ... on a clash).
// The folder listing is the queue; there is no index and no lock file.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "engine/foundation/UniqueFd.h"

class CLogWriter;

// Where the stamp of a new mail file comes from; defaults to the system clock.
using MailClock = std::function<std::time_t()>;

// True when sub can name a folder directly under mail/: not empty, not "." or
// "..", and without a slash, a backslash or a NUL.
bool IsMailFolderName(const std::string& sub);

// Makes sure <root>/mail and <root>/mail/<sub> exist, one level at a time.
// Returns true when the sub-folder exists afterwards; false for a sub that is
// not a mail folder name.
bool CreateMailFolder(const std::string& root, const std::string& sub);

// A new mail file being written. Bytes go to a hidden temporary file in the
// target folder (".new-<stamp>-XXXXXX", locked with flock while it is written);
// Commit() checks every write, flushes, links the file under its unique final
// name without ever replacing an existing file, and closes it. A file that is
// never committed is removed; one whose process dies is left under a name that
// no reader of the spool takes, until RemoveMailSpoolLeftovers.
class CNewMailFile {
public:
    CNewMailFile() = default;
    ~CNewMailFile();
    CNewMailFile(const CNewMailFile&) = delete;
    CNewMailFile& operator=(const CNewMailFile&) = delete;

    // Creates the temporary file for a mail of <root>/mail/<sub> with the given
    // extension (no dot). Reads the clock once for the name's stamp. Logs and
    // returns false on failure.
    bool Open(const std::string& root, const std::string& sub, const std::string& extension,
              CLogWriter& log, const MailClock& clock = {});

    bool IsOpen() const { return m_fd.Get() >= 0; }

    // Appends bytes; a failed write is remembered and makes Commit() fail.
    void Write(const std::string& bytes);
    void Write(const char* data, size_t length);

    // Finishes the file and gives it its final name; the full path is returned
    // through path when given. Logs and returns false when anything failed, in
    // which case nothing appears under a final name.
    bool Commit(CLogWriter& log, std::string* path = nullptr);

    // Drops the file without publishing it.
    void Abandon();

private:
    CUniqueFd m_fd;
    bool m_bWriteFailed = false;
    std::string m_strFolder;
    std::string m_strStamp;
    std::string m_strExtension;
    std::string m_strTempPath;
};

// Removes the temporary files of mail writers that died: in every folder under
// <root>/mail, each ".new-*" file that no writer holds locked, however recent.
// Returns how many went.
int RemoveMailSpoolLeftovers(const std::string& root);

// The stamp of a mail file name for the given moment, local time.
std::string MailFileStamp(std::time_t when);

// Moves the file at path into <root>/mail/<sub>, keeping its file name.
// In "sent" an older file of that name is replaced (logged); anywhere else the
// moved file takes the first free "-N" name instead, so no mail is lost.
// Returns true on success; every failure is logged.
bool MoveMailFile(const std::string& root, const std::string& path, const std::string& sub,
                  CLogWriter& log);

// The same with the process's root folder and log.
bool MoveMailFile(const std::string& path, const std::string& sub);
