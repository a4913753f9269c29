#include "console/window/SingleInstance.h"

#include <unistd.h>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>

#include "engine/foundation/NamedObject.h"
#include "engine/foundation/ObjectNames.h"

namespace {

constexpr int kWaitMs = 5000;
constexpr char kRaiseRequest = 'R';

// True when the holder took the request.
bool AskHolderToRaise(const std::string& root) {
    CUniqueFd fd(ConnectNamedObject(root, kConsoleSingleName));
    QLocalSocket socket;
    if (fd.Get() < 0 || !socket.setSocketDescriptor(fd.Get())) {
        return false;
    }
    fd.Release();  // the socket owns it now
    socket.write(&kRaiseRequest, 1);
    if (!socket.waitForBytesWritten(kWaitMs)) {
        return false;
    }
    // The holder closes once it has read the request.
    socket.waitForDisconnected(kWaitMs);
    return true;
}

}  // namespace

CSingleInstance::CSingleInstance() = default;

CSingleInstance::~CSingleInstance() = default;

CSingleInstance::EClaim CSingleInstance::Claim(const std::string& root,
                                               std::function<void()> raise) {
    auto name = std::make_unique<CNamedEvent>();
    if (!name->Create(root, kConsoleSingleName)) {
        if (errno == EADDRINUSE) {
            return AskHolderToRaise(root) ? EClaim::kOtherRaised : EClaim::kError;
        }
        return EClaim::kError;
    }
    // Qt takes connections on a copy; the name and its lock stay with m_name.
    CUniqueFd copy(::dup(name->ListeningFd()));
    auto server = std::make_unique<QLocalServer>();
    if (copy.Get() < 0 || !server->listen(copy.Get())) {
        return EClaim::kError;
    }
    copy.Release();
    m_raise = std::move(raise);
    QLocalServer* listening = server.get();
    QObject::connect(listening, &QLocalServer::newConnection, listening, [this, listening] {
        while (QLocalSocket* peer = listening->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                if (peer->readAll().contains(kRaiseRequest) && m_raise) {
                    m_raise();
                }
                peer->disconnectFromServer();
            });
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
    m_server = std::move(server);
    m_name = std::move(name);
    return EClaim::kFirst;
}
