#include "engine/testsupport/TempFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

CTempFolder::CTempFolder() {
    char pattern[] = "/tmp/velmorin-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    m_path = pattern;
}

CTempFolder::~CTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}
