// SIGTERM (a desktop session ending, a service manager) closes the studio as its Exit command
// would, so the settings are written. The signal is blocked from the start of main and read
// from a descriptor once the event loop runs, so none that comes early is lost.
#pragma once

#include <QObject>
#include <functional>

#include "engine/foundation/UniqueFd.h"

class QSocketNotifier;

class CTerminationSignal : public QObject {
    Q_OBJECT
public:
    // Before any thread starts: every thread then inherits the blocked signal.
    static void Block();

    // Calls `onSignal` on this object's thread when SIGTERM arrives.
    CTerminationSignal(std::function<void()> onSignal, QObject* parent = nullptr);

private:
    CUniqueFd m_fd;
    QSocketNotifier* m_notifier = nullptr;
    std::function<void()> m_onSignal;
};
