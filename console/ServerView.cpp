#include "console/ServerView.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "console/ConsoleMessages.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/settings/ServerSettings.h"

std::string HttpAddress(const std::string& host, const std::string& port) {
    return port == "80" ? "http://" + host : "http://" + host + ":" + port;
}

std::string HttpsAddress(const std::string& host, const std::string& port) {
    return port == "443" ? "https://" + host : "https://" + host + ":" + port;
}

std::string StoppedServerText(const CServerSettings& settings) {
    std::string text =
        "0*Web Server*" + HttpAddress(settings.FQDN, settings.GeneralTcpipPort) + "*Stopped\r\n";
    text += "1*Secure Web Server*" + HttpsAddress(settings.FQDN, settings.GeneralSslPort) + "*" +
            (settings.SecurityCertName.empty() ? "Disabled" : "Stopped") + "\r\n";
    return text + settings.GetTaskStatusLines(false);
}

std::string StartNotice(const CServerSettings& settings) {
    const CConsoleMessages& msg = ConsoleMessages();
    std::string text =
        FormatMessage(msg.msgWebServerStarted,
                      {HttpAddress(settings.GeneralTcpipAddress, settings.GeneralTcpipPort),
                       HttpAddress(settings.FQDN, settings.GeneralTcpipPort)});
    if (!settings.SecurityCertName.empty()) {
        text += FormatMessage(msg.msgSecureServerStarted,
                              {HttpsAddress(settings.FQDN, settings.GeneralSslPort)});
    }
    return text + msg.msgAskLaunchBrowser;
}

bool WriteBrowsePage(const std::string& root, const CServerSettings& settings, std::string& error) {
    const CConsoleMessages& msg = ConsoleMessages();
    const std::string a = HttpAddress(settings.GeneralTcpipAddress, settings.GeneralTcpipPort);
    const std::string b = HttpAddress(settings.FQDN, settings.GeneralTcpipPort);
    std::string secure;
    if (!settings.SecurityCertName.empty()) {
        const std::string c = HttpsAddress(settings.FQDN, settings.GeneralSslPort);
        secure = FormatMessage(msg.msgConnectSecureLink, {c, c});
    }
    const std::string page = FormatMessage(msg.msgConnectPage, {a, a, b, b, secure});
    const std::string path = root + "/webroot/browse.html";
    CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) {
        error = path + ": " + FormatSystemError(errno);
        return false;
    }
    for (size_t done = 0; done < page.size();) {
        const ssize_t n = ::write(fd.Get(), page.data() + done, page.size() - done);
        if (n < 0 && errno != EINTR) {
            error = path + ": " + FormatSystemError(errno);
            return false;
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

CHostResolver SystemResolver() {
    CHostResolver resolver;
    resolver.m_reverse = [](const std::string& address) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        if (::inet_pton(AF_INET, address.c_str(), &in.sin_addr) != 1) {
            return std::string();
        }
        char host[NI_MAXHOST] = {};
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&in), sizeof(in), host, sizeof(host), nullptr,
                          0, NI_NAMEREQD) != 0) {
            return std::string();
        }
        return std::string(host);
    };
    resolver.m_forward = [](const std::string& name) {
        std::vector<std::string> addresses;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* raw = nullptr;
        if (::getaddrinfo(name.c_str(), nullptr, &hints, &raw) != 0) {
            return addresses;
        }
        std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(raw, freeaddrinfo);
        for (addrinfo* a = raw; a != nullptr; a = a->ai_next) {
            char text[INET_ADDRSTRLEN] = {};
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) != nullptr) {
                addresses.push_back(text);
            }
        }
        return addresses;
    };
    return resolver;
}

std::string ResolveDomainName(const std::string& address, const CHostResolver& resolver) {
    std::string name = resolver.m_reverse(address);
    name.erase(0, name.find_first_not_of(" \t"));
    if (name.find('.') == std::string::npos) {
        return address;
    }
    const std::vector<std::string> back = resolver.m_forward(name);
    if (std::find(back.begin(), back.end(), address) == back.end()) {
        return address;
    }
    return name;
}
