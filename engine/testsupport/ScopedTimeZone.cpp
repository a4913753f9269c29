#include "engine/testsupport/ScopedTimeZone.h"

#include <time.h>

void CScopedTimeZone::Use(const char* zone) {
    m_env.Set("TZ", zone);
    ::tzset();
}

CScopedTimeZone::~CScopedTimeZone() {
    m_env.Restore();
    ::tzset();
}
