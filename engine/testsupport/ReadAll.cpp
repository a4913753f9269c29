#include "engine/testsupport/ReadAll.h"

std::string ReadAll(CSocketConn& conn) {
    std::string got;
    char buffer[8192];
    long n;
    while ((n = conn.Receive(buffer, sizeof buffer)) > 0) {
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}
