// The one interactive console of an installation: a local server on the single-instance name
// among the root's named objects (engine/foundation/NamedObject.h). A second
// console finds it taken, asks the holder to raise its window and ends.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CNamedEvent;
class QLocalServer;

class CSingleInstance {
public:
    enum class EClaim { kFirst, kOtherRaised, kError };

    CSingleInstance();
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // kFirst: this process holds the name and calls `raise` whenever another console asks.
    // kOtherRaised: another console holds it and got the request. kError: neither.
    EClaim Claim(const std::string& root, std::function<void()> raise);

private:
    std::unique_ptr<CNamedEvent> m_name;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_raise;
};
