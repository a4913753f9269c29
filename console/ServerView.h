// What the server view shows without asking the server: the rows of a stopped server, the
// addresses users browse to, the start notice, the browse page and the host's full name.
#pragma once

#include <functional>
#include <string>
#include <vector>

class CServerSettings;

// "http://host" for port "80", else "http://host:port".
std::string HttpAddress(const std::string& host, const std::string& port);
// "https://host" for port "443", else "https://host:port".
std::string HttpsAddress(const std::string& host, const std::string& port);

// The protocol's lines for a stopped server: the web server, the secure web server ("Disabled"
// without a certificate, else "Stopped") and the task status lines.
std::string StoppedServerText(const CServerSettings& settings);

// The notice after a start, ending in the question whether to launch a browser.
std::string StartNotice(const CServerSettings& settings);

// Writes <root>/webroot/browse.html, the page that links to the server; false with the
// system's reason in `error` when it cannot be written.
bool WriteBrowsePage(const std::string& root, const CServerSettings& settings, std::string& error);

// Name lookups, replaceable by tests.
struct CHostResolver {
    // The name of a dotted address; empty when it has none.
    std::function<std::string(const std::string& address)> m_reverse;
    // The dotted addresses of a name.
    std::function<std::vector<std::string>(const std::string& name)> m_forward;
};
// The system's resolver.
CHostResolver SystemResolver();

// The fully qualified name of the address: its reverse name when that holds a '.' and
// resolves back to the address; otherwise the address itself.
std::string ResolveDomainName(const std::string& address, const CHostResolver& resolver);
