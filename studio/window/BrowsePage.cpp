#include "studio/window/BrowsePage.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "engine/foundation/EngineMessages.h"

std::string CBrowsePage::Address(bool ssl, const std::string& fqdn, const std::string& address,
                                 const std::string& port) {
    if (ssl) {
        return port == "443" ? "https://" + fqdn : "https://" + fqdn + ":" + port;
    }
    return port == "80" ? "http://" + address : "http://" + address + ":" + port;
}

bool CBrowsePage::Write(const std::string& path, const std::string& address) {
    const int size =
        std::snprintf(nullptr, 0, g_msg.m_connectPage, address.c_str(), address.c_str());
    std::vector<char> page(static_cast<size_t>(size) + 1);
    std::snprintf(page.data(), page.size(), g_msg.m_connectPage, address.c_str(), address.c_str());
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), std::fclose);
    return file && std::fputs(page.data(), file.get()) >= 0 && std::fflush(file.get()) == 0;
}

std::string CBrowsePage::FailureText(const std::string& path, const std::string& address) {
    return "Failed to launch web browser. Please install a web browser then retry.\n"
           "If a web browser is installed, please run it then type in this address:\n" +
           path + " or " + address;
}
