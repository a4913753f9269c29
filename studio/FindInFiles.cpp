#include "studio/FindInFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"

namespace {

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

class CFolderSearch {
public:
    CFolderSearch(const std::string& text, const std::string& fileTypes,
                  const std::atomic<bool>& stop, const FindResultSink& sink)
        : m_text(text), m_extensions(ParseFileTypes(fileTypes)), m_stop(stop), m_sink(sink) {}

    int Count() const { return m_count; }

    void SearchFolder(std::string folder) {
        if (!folder.empty() && folder.back() != '/') {
            folder += '/';
        }
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "/" : folder.c_str()),
                                                closedir);
        if (!dir) {
            m_sink("Root folder not found or the folder is empty.");
            return;
        }
        while (dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                SearchEntry(folder + name, name);
            }
            if (m_stop.load()) {
                break;
            }
        }
    }

private:
    void SearchEntry(const std::string& path, const std::string& name) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            return;  // gone since it was listed
        }
        if (S_ISDIR(st.st_mode)) {
            SearchFolder(path);
            return;
        }
        if (S_ISLNK(st.st_mode)) {
            // A link to a folder could lead back up the tree; a dangling one is still a file.
            struct stat target {};
            if (stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
                return;
            }
        }
        if (MatchesTypes(name)) {
            SearchFile(path);
        }
    }

    bool MatchesTypes(const std::string& name) const {
        const size_t dot = name.rfind('.');
        if (dot == std::string::npos) {
            return false;
        }
        const std::string extension = AsciiLowerCopy(std::string_view(name).substr(dot));
        for (const std::string& wanted : m_extensions) {
            if (wanted == extension) {
                return true;
            }
        }
        return false;
    }

    void ReportError(int error) {
        std::string row = FormatSystemError(error);
        while (!row.empty() && (row.back() == '\n' || row.back() == '\r')) {
            row.pop_back();
        }
        m_sink(row);
    }

    void SearchFile(const std::string& path) {
        CUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        struct stat st {};
        if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0) {
            ReportError(errno);
            return;
        }
        if (st.st_size == 0) {
            return;
        }
        const size_t size = static_cast<size_t>(st.st_size);
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.Get(), 0);
        if (map == MAP_FAILED) {
            ReportError(errno);
            return;
        }
        std::unique_ptr<void, std::function<void(void*)>> unmap(
            map, [size](void* p) { munmap(p, size); });
        SearchBytes(path, static_cast<const char*>(map), size);
    }

    bool MatchesAt(const char* data, size_t size, size_t at) const {
        if (size - at < m_text.size()) {
            return false;
        }
        return AsciiEqualNoCase(std::string_view(data + at, m_text.size()), m_text);
    }

    void SearchBytes(const std::string& path, const char* data, size_t size) {
        int lineNumber = 1;
        std::string line;
        size_t at = 0;
        while (at < size && !m_stop.load()) {
            if (MatchesAt(data, size, at)) {
                while (at < size && data[at] != '\r' && data[at] != '\n') {
                    if (data[at] == '\0') {
                        break;  // the binary-file row follows from the main walk
                    }
                    line += data[at++];
                }
                m_sink(path + " (" + std::to_string(lineNumber) + "): " + line);
                ++m_count;
                // The rest of the line is done: go on at its end.
                while (at < size && data[at] != '\n' && data[at] != '\0') {
                    ++at;
                }
                continue;
            }
            const char c = data[at++];
            if (c == '\n') {
                ++lineNumber;
                line.clear();
            } else if (c == '\0') {
                m_sink("Skipping " + path + " because it is a binary file");
                return;
            } else if (c != '\r') {
                line += c;
            }
        }
    }

    const std::string& m_text;
    const std::vector<std::string> m_extensions;
    const std::atomic<bool>& m_stop;
    const FindResultSink& m_sink;
    int m_count = 0;
};

}  // namespace

std::vector<std::string> ParseFileTypes(const std::string& fileTypes) {
    std::vector<std::string> extensions;
    std::string run;
    for (size_t i = 0; i <= fileTypes.size(); ++i) {
        if (i < fileTypes.size() && IsWordChar(fileTypes[i])) {
            run += fileTypes[i];
        } else if (!run.empty()) {
            extensions.push_back("." + run);
            run.clear();
        }
    }
    return extensions;
}

void FindInFiles(const std::string& text, const std::string& fileTypes, const std::string& folder,
                 const std::atomic<bool>& stop, const FindResultSink& sink) {
    sink("{");
    CFolderSearch search(text, fileTypes, stop, sink);
    if (!text.empty()) {
        search.SearchFolder(folder);
    }
    if (stop.load()) {
        sink("User canceled find in files.");
    }
    sink(std::to_string(search.Count()) + " occurrence(s) have been found");
    sink("}");
}

bool SplitFindResult(const std::string& row, std::string& path, int& line) {
    const size_t close = row.find("):");
    if (close == std::string::npos) {
        return false;
    }
    const size_t open = row.rfind('(', close);
    if (open == std::string::npos) {
        return false;
    }
    line = atoi(row.c_str() + open + 1);
    // The path ends at the blank in front of "(".
    size_t end = open > 0 && row[open - 1] == ' ' ? open - 1 : open;
    size_t start = 0;
    while (start < end && (row[start] == ' ' || row[start] == '\t')) {
        ++start;
    }
    path = row.substr(start, end - start);
    return true;
}
