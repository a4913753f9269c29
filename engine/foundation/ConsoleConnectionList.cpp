#include "engine/foundation/ConsoleConnectionList.h"

#include <cstdlib>

int ParseConnectionList(const std::string& listing, std::vector<CConsoleConnection>& busy) {
    int watermark = 0;
    size_t start = 0;
    for (size_t end; (end = listing.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = listing.substr(start, end - start);
        if (line.empty()) {
            break;
        }
        if (line.starts_with("watermark*")) {
            watermark = std::atoi(line.c_str() + 10);
            continue;
        }
        const size_t first = line.find('*');
        const size_t second = first == std::string::npos ? first : line.find('*', first + 1);
        const size_t third = second == std::string::npos ? second : line.find('*', second + 1);
        if (third == std::string::npos) {
            continue;
        }
        CConsoleConnection c;
        c.m_address = line.substr(0, first);
        c.m_threadId = std::atol(line.c_str() + first + 1);
        c.m_assigned = line.substr(second + 1, third - second - 1);
        c.m_request = line.substr(third + 1);
        busy.push_back(std::move(c));
    }
    return watermark;
}
