// A folder of the fuzz targets' own under TMPDIR, removed with everything in it at exit.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class CScratchFolder {
public:
    explicit CScratchFolder(const std::string& prefix) {
        std::string pattern = std::filesystem::temp_directory_path() / (prefix + "-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~CScratchFolder() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
