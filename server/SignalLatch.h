// SIGTERM and SIGINT as stop requests: the first one that arrives is latched,
// whenever it comes (during start-up too), and wakes whoever waits on WakeFd().
// SIGPIPE is ignored: a peer that leaves must never kill the server.
#pragma once

namespace SignalLatch {

// Installs the handlers (once per process). False with errno set on failure.
bool Install();
// Readable once a stop signal has arrived; -1 before Install.
int WakeFd();
// The latched signal's number, or 0.
int Latched();
// Latches as the handler does (tests, and a stop requested from inside).
void Raise(int signalNumber);
// Forgets a latched signal (a server run that has handled it, tests).
void Clear();

}  // namespace SignalLatch
