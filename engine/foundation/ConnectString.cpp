#include "engine/foundation/ConnectString.h"

#include "engine/foundation/AsciiText.h"

namespace {

// Where the value of `key` starts, or npos.
size_t FindValue(const std::string& connect, const std::string& key) {
    const std::string wanted = key + "=";
    for (size_t at = 0; at < connect.size();) {
        if (AsciiStartsWithNoCase(std::string_view(connect).substr(at), wanted)) {
            return at + wanted.size();
        }
        const size_t semicolon = connect.find(';', at);
        if (semicolon == std::string::npos) {
            break;
        }
        at = semicolon + 1;
    }
    return std::string::npos;
}

}  // namespace

std::string ConnectStringValue(const std::string& connect, const std::string& key) {
    const size_t at = FindValue(connect, key);
    if (at == std::string::npos) {
        return std::string();
    }
    const size_t end = connect.find(';', at);
    return connect.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

void SetConnectStringValue(std::string& connect, const std::string& key, const std::string& value) {
    const size_t at = FindValue(connect, key);
    if (at == std::string::npos) {
        if (!connect.empty() && connect.back() != ';') {
            connect += ';';
        }
        connect += key + "=" + value + ";";
        return;
    }
    const size_t keyAt = at - key.size() - 1;
    size_t end = connect.find(';', at);
    if (end == std::string::npos) {
        end = connect.size();
    }
    connect.replace(keyAt, end - keyAt, key + "=" + value);
}

std::string StripOdbcPrefix(const std::string& setting) {
    return setting.size() < 5 ? std::string() : setting.substr(5);
}
