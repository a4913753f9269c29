// What the server program starts and stops, as CServerApp sees it: the engine's
// listeners, scheduler, thread pool, SSL credentials, data source and context.
// EngineParts.h binds these to the engine; tests put fakes in their place.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/settings/ServerSettings.h"

// One worker thread (a listener or the scheduler).
class CServerWorker {
public:
    // The owner ends the worker before it lets the object go: a worker whose
    // thread has not ended by then is abandoned, never joined for ever.
    virtual ~CServerWorker() = default;

    // Starts the thread with the parameters given at creation; false when it
    // could not be created.
    virtual bool Start() = 0;
    // Set once the thread does its work (a listener accepts, the scheduler
    // ticks).
    virtual bool IsStarted() const = 0;
    // Seconds since 1970 at which the worker was made (the console shows it).
    virtual int64_t StartTime() const = 0;
    // Asks the thread to end: a listener stops accepting, the scheduler quits.
    virtual void RequestStop() = 0;
    // True when the thread ended within timeout.
    virtual bool WaitEnded(std::chrono::milliseconds timeout) = 0;
    // Lets a thread that did not end go on by itself; the object must stay
    // valid for it (the process ends without freeing what it touches).
    virtual void Abandon() = 0;
    // Whether a page or script runs on it now, and logging where it stands;
    // false when that cannot be written.
    virtual bool HasInterpreter() const { return false; }
    virtual bool DumpPosition() { return false; }
    // Hands task number taskNumber to a scheduler; false when the post failed.
    virtual bool PostRunTask(int /*taskNumber*/) { return false; }
};

class CServerParts {
public:
    virtual ~CServerParts() = default;

    virtual CServerSettings& Settings() = 0;
    // False when the settings could not be loaded.
    virtual bool LoadSettings() = 0;
    // Below 0 when no data source is configured.
    virtual int InitDefaultDataSource() = 0;
    // With the certificate settings; false after the credentials logged why.
    virtual bool AcquireSsl() = 0;
    virtual void FreeSsl() = 0;
    // A listener on address:port, not started; nullptr when it cannot be made.
    virtual std::unique_ptr<CServerWorker> MakeListener(const std::string& address, int port,
                                                        bool ssl) = 0;
    // The scheduler, not started; nullptr when this build has none.
    virtual std::unique_ptr<CServerWorker> MakeScheduler() = 0;
    // Ends every server thread: 0, or -1 when one had to be abandoned.
    virtual int StopPool() = 0;
    // Frees every application, session and data source.
    virtual void ClearContext() = 0;
};
