#include "engine/testsupport/ScopedEnv.h"

#include <stdlib.h>

void CScopedEnv::Set(const char* name, const char* value) {
    if (m_saved.find(name) == m_saved.end()) {
        const char* old = ::getenv(name);
        m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

void CScopedEnv::Restore() {
    for (const auto& [name, value] : m_saved) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    m_saved.clear();
}
