#include "engine/testsupport/ScopedLocale.h"

#include <clocale>
#include <cstdlib>
#include <string>

CScopedLocale::CScopedLocale(const char* name) {
    m_active = std::setlocale(LC_NUMERIC, name) != nullptr;
    if (m_active) {
        return;
    }
    const std::string full = name;
    const size_t dot = full.find('.');
    m_built = std::make_unique<CTempFolder>();
    const std::string command = "localedef -i " + full.substr(0, dot) + " -f " +
                                full.substr(dot + 1) + " '" + m_built->File(full) +
                                "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) {
        m_env.Set("LOCPATH", m_built->Path().c_str());
        m_active = std::setlocale(LC_NUMERIC, name) != nullptr;
    }
}

CScopedLocale::~CScopedLocale() {
    std::setlocale(LC_NUMERIC, "C");
}
