#include "engine/foundation/SettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/FilePaths.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/foundation/UrlCodec.h"
#include "engine/foundation/WriteAll.h"

namespace {

std::string Escape(const std::string& text, bool name) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool atEdge = (i == 0 || i + 1 == text.size());
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t' && !atEdge) {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f || (atEdge && IsSpaceOrTab(static_cast<char>(c))) ||
                   (name && (c == '=' || c == '#'))) {
            out += "\\x" + ByteToHex(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string ErrnoText(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + SystemErrorText(errno);
}

// Reads a whole file; std::nullopt with `error` set on failure (errno kept), empty text when it
// is missing. `owner` receives the file's status when it exists.
std::optional<std::string> ReadFile(const std::string& path, std::string& error,
                                    std::optional<struct stat>* owner = nullptr) {
    CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::string();
        }
        error = ErrnoText("cannot open", path);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0 && owner != nullptr) {
        *owner = st;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = ErrnoText("cannot read", path);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates the folder and its missing parents.
bool MakeFolders(const std::string& folder, std::string& error) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        errno = ENOTDIR;
        error = ErrnoText("cannot create folder", folder);
        return false;
    }
    const std::string parent = FolderOf(folder);
    if (parent != folder && !MakeFolders(parent, error)) {
        return false;
    }
    if (!MakeGroupFolder(folder)) {
        error = ErrnoText("cannot create folder", folder);
        return false;
    }
    return true;
}

// One line of a store file: its raw text and, for a setting, its decoded name.
struct Line {
    std::string m_raw;
    std::optional<std::string> m_name;
    std::string m_value;
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        Line line;
        line.m_raw = text.substr(start, end - start);
        std::string content = line.m_raw;
        if (!content.empty() && content.back() == '\r') {
            content.pop_back();
        }
        const std::string trimmed(TrimSpaceOrTab(content));
        const size_t equals = content.find('=');
        if (!trimmed.empty() && trimmed[0] != '#' && equals != std::string::npos) {
            std::string name =
                CSettingsStore::Unescape(std::string(TrimSpaceOrTab(content.substr(0, equals))));
            if (!name.empty()) {
                line.m_name = std::move(name);
                line.m_value = CSettingsStore::Unescape(
                    std::string(TrimSpaceOrTab(content.substr(equals + 1))));
            }
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::string EntryLine(const std::string& name, const std::string& value) {
    return CSettingsStore::EscapeName(name) + "=" + CSettingsStore::EscapeValue(value);
}

const char kHeader[] =
    "# Velmorin Server settings: one Name=Value per line, names in any case.\n"
    "# Escapes: \\\\ backslash, \\n LF, \\r CR, \\t TAB, \\xHH any byte.\n";

// The text of the file with the changes set: a name keeps its line (a later duplicate would
// disagree with the new value, so it goes), a new name is appended, a new file gets the header.
// `merged` receives every value of the text.
std::string MergeChanges(const std::string& current,
                         const std::vector<CSettingsValues::Entry>& changes,
                         CSettingsValues& merged) {
    std::vector<Line> lines = SplitLines(current);
    for (const CSettingsValues::Entry& change : changes) {
        bool found = false;
        for (auto it = lines.begin(); it != lines.end();) {
            if (it->m_name && AsciiEqualNoCase(*it->m_name, change.first)) {
                if (found) {
                    it = lines.erase(it);
                    continue;
                }
                found = true;
                it->m_raw = EntryLine(*it->m_name, change.second);
                it->m_value = change.second;
            }
            ++it;
        }
        if (!found) {
            Line line;
            line.m_raw = EntryLine(change.first, change.second);
            line.m_name = change.first;
            line.m_value = change.second;
            lines.push_back(std::move(line));
        }
    }

    std::string text = current.empty() ? std::string(kHeader) : std::string();
    for (const Line& line : lines) {
        text += line.m_raw;
        text += '\n';
        if (line.m_name && merged.Find(*line.m_name) == nullptr) {
            merged.Set(*line.m_name, line.m_value);
        }
    }
    return text;
}

}  // namespace

const std::string* CSettingsValues::Find(const std::string& name) const {
    for (const Entry& entry : m_entries) {
        if (AsciiEqualNoCase(entry.first, name)) {
            return &entry.second;
        }
    }
    return nullptr;
}

void CSettingsValues::Set(const std::string& name, const std::string& value) {
    for (Entry& entry : m_entries) {
        if (AsciiEqualNoCase(entry.first, name)) {
            entry.second = value;
            return;
        }
    }
    m_entries.emplace_back(name, value);
}

CSettingsStore::CSettingsStore(std::string filePath) : m_path(std::move(filePath)) {}

std::string CSettingsStore::PathUnderRoot(const std::string& rootFolder) {
    return rootFolder + "/etc/velmorin.conf";
}

std::string CSettingsStore::EscapeName(const std::string& name) {
    return Escape(name, true);
}

std::string CSettingsStore::EscapeValue(const std::string& value) {
    return Escape(value, false);
}

std::string CSettingsStore::Unescape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const char next = text[i + 1];
        if (next == '\\') {
            out += '\\';
            ++i;
        } else if (next == 'n') {
            out += '\n';
            ++i;
        } else if (next == 'r') {
            out += '\r';
            ++i;
        } else if (next == 't') {
            out += '\t';
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && HexDigitValue(text[i + 2]) >= 0 &&
                   HexDigitValue(text[i + 3]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 2]) * 16 + HexDigitValue(text[i + 3]));
            i += 3;
        } else {
            out += c;
        }
    }
    return out;
}

CSettingsValues CSettingsStore::Parse(const std::string& text) {
    CSettingsValues values;
    for (const Line& line : SplitLines(text)) {
        if (line.m_name && values.Find(*line.m_name) == nullptr) {
            values.Set(*line.m_name, line.m_value);
        }
    }
    return values;
}

bool CSettingsStore::Read(CSettingsValues& values, std::string& error, int* code) const {
    std::optional<std::string> text = ReadFile(m_path, error);
    if (!text) {
        if (code != nullptr) {
            *code = errno;
        }
        return false;
    }
    values = Parse(*text);
    return true;
}

bool CSettingsStore::Write(const std::vector<CSettingsValues::Entry>& changes, std::string& error,
                           CSettingsValues* merged) {
    return Update([&changes](const CSettingsValues&) { return changes; }, error, merged);
}

bool CSettingsStore::Update(const Decision& decide, std::string& error, CSettingsValues* merged) {
    const std::string folder = FolderOf(m_path);
    if (!MakeFolders(folder, error)) {
        return false;
    }

    const std::string lockPath = m_path + ".lock";
    CUniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.Get() < 0) {
        error = ErrnoText("cannot open", lockPath);
        return false;
    }
    while (::flock(lock.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = ErrnoText("cannot lock", lockPath);
            return false;
        }
    }

    // Under the lock: the file as another writer may just have left it.
    std::optional<struct stat> existing;
    std::optional<std::string> current = ReadFile(m_path, error, &existing);
    if (!current) {
        return false;
    }
    const std::vector<CSettingsValues::Entry> changes = decide(Parse(*current));
    for (const CSettingsValues::Entry& change : changes) {
        if (TrimSpaceOrTab(change.first).empty()) {
            error = "empty setting name";
            return false;
        }
    }
    CSettingsValues result;
    const std::string text = changes.empty() ? *current : MergeChanges(*current, changes, result);
    if (changes.empty()) {
        result = Parse(*current);
    } else if (text != *current &&
               // A new store takes the group of the installation root, the folder above etc/.
               !ReplaceFileContents(m_path, TempPrefix(), text, existing, FolderOf(folder),
                                    error)) {
        return false;
    }
    if (merged != nullptr) {
        *merged = std::move(result);
    }
    return true;
}

std::string CSettingsStore::TempPrefix() const {
    return FolderOf(m_path) + "/.new-" + FileNameOf(m_path) + "-";
}

int CSettingsStore::RemoveLeftovers() {
    const std::string lockPath = m_path + ".lock";
    CUniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.Get() < 0) {
        return 0;  // no folder, or not ours to clean
    }
    // While the lock is held no writer has a temporary file open: every one found is left
    // over, whenever it was written.
    while (::flock(lock.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return 0;
        }
    }
    const std::string folder = FolderOf(m_path);
    const std::string prefix = TempPrefix().substr(folder.size() + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (name.starts_with(prefix) &&
            ::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && ::unlinkat(::dirfd(dir), name.c_str(), 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}
