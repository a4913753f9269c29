// The page that Browse hands to the desktop's browser: a link to the debugging web server.
#pragma once

#include <string>

class CBrowsePage {
public:
    // "https://<fqdn>:<port>" ("https://<fqdn>" on 443) with SSL, else
    // "http://<address>:<port>" ("http://<address>" on 80).
    static std::string Address(bool ssl, const std::string& fqdn, const std::string& address,
                               const std::string& port);
    // Writes the connect page with `address` to `path`; false when it cannot.
    static bool Write(const std::string& path, const std::string& address);
    // The box shown when no browser could be started.
    static std::string FailureText(const std::string& path, const std::string& address);
};
