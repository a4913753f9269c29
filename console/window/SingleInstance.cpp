#include "console/window/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "engine/foundation/NamedObject.h"
#include "engine/foundation/ObjectNames.h"

namespace {

constexpr int kWaitMs = 5000;
constexpr char kRaiseRequest = 'R';

// True when the holder took the request.
bool AskHolderToRaise(const QString& name) {
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (!socket.waitForConnected(kWaitMs)) {
        return false;
    }
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
    const QString name = QString::fromStdString(NamedObjectAddress(root, kConsoleSingleName));
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!server->listen(name)) {
        if (server->serverError() == QAbstractSocket::AddressInUseError) {
            return AskHolderToRaise(name) ? EClaim::kOtherRaised : EClaim::kError;
        }
        return EClaim::kError;
    }
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
    return EClaim::kFirst;
}
