// Puts LC_NUMERIC in a named locale for one scope and back to "C" afterwards. When the
// system lacks the locale, localedef builds it into a temporary folder first.
#pragma once

#include <memory>

#include "engine/testsupport/ScopedEnv.h"
#include "engine/testsupport/TempFolder.h"

class CScopedLocale {
public:
    explicit CScopedLocale(const char* name);  // such as "de_DE.UTF-8"
    ~CScopedLocale();
    CScopedLocale(const CScopedLocale&) = delete;
    CScopedLocale& operator=(const CScopedLocale&) = delete;

    // False when the locale could neither be found nor built (tests skip).
    bool Active() const { return m_active; }

private:
    CScopedEnv m_env;
    std::unique_ptr<CTempFolder> m_built;
    bool m_active = false;
};
