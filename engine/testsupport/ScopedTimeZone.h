// Sets TZ for one scope (dates print in local time) and restores the process's zone.
#pragma once

#include "engine/testsupport/ScopedEnv.h"

class CScopedTimeZone {
public:
    explicit CScopedTimeZone(const char* zone) { Use(zone); }
    ~CScopedTimeZone();

    // Switches to another zone within the scope.
    void Use(const char* zone);

private:
    CScopedEnv m_env;
};
