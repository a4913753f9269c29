// Machine-wide named objects of one installation: the server's single-instance
// lock and its stop event, which the console also opens.
//
// Each is an abstract unix socket (it vanishes with the process that holds it,
// so a killed server leaves nothing behind) whose name is built from the
// object's name and the installation root: two installations on one host never
// meet, and every program of one installation finds the same object.
//
// A stop event "exists" while a connect to it succeeds; "setting" it is sending
// one byte. The event is manual-reset: once set it stays set. The holder takes a
// set only from a peer of the same user or root (SO_PEERCRED); others are
// logged and ignored.
#pragma once

#include <string>

#include "engine/foundation/UniqueFd.h"

// The abstract socket name (without its leading NUL) of object `name` under
// `root`: "velmorin:<name>:<root>", or, when that is longer than an abstract
// name may be, "velmorin:<name>#<hash of root>".
std::string NamedObjectAddress(const std::string& root, const std::string& name);

// Held while the object lives; a second holder of the same name is refused.
class CNamedMutex {
public:
    enum class Result { kCreated, kExists, kError };

    CNamedMutex() = default;
    ~CNamedMutex();  // Close
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    // kExists when another object (in any process) holds the name; kError with
    // errno set when no socket could be made or bound for another reason.
    [[nodiscard]] Result Create(const std::string& root, const std::string& name);
    bool IsHeld() const { return m_fd.Get() >= 0; }
    void Close();

private:
    CUniqueFd m_fd;
};

// The holder's side of a stop event.
class CNamedEvent {
public:
    CNamedEvent() = default;
    ~CNamedEvent();  // Close
    CNamedEvent(const CNamedEvent&) = delete;
    CNamedEvent& operator=(const CNamedEvent&) = delete;

    // Creates the event, not set. False (errno set; EADDRINUSE when another
    // process holds it) when it cannot be made.
    bool Create(const std::string& root, const std::string& name);
    bool IsOpen() const { return m_fd.Get() >= 0; }

    // Blocks until the event is set by a permitted peer or Set, or until wakeFd
    // (when not -1) becomes readable. True when the event is set; false for a
    // wake or a failed wait (errno set). Returns at once once set.
    bool Wait(int wakeFd = -1);
    // Sets the event from this process.
    void Set() { m_set = true; }
    bool IsSet() const { return m_set; }

    // Removes the name; peers find no event from now on.
    void Close();

    // The connecting side (the console, a second server, tests).
    // True when the event of `name` under `root` exists.
    static bool Exists(const std::string& root, const std::string& name);
    // Sets it; false when it does not exist or the byte could not be sent.
    static bool Signal(const std::string& root, const std::string& name);
    // The user id of the event's holder; false when the event does not exist.
    static bool HolderUid(const std::string& root, const std::string& name, unsigned& uid);

private:
    // Takes one pending connection: true when it set the event.
    bool TakeRequest();

    CUniqueFd m_fd;
    bool m_set = false;
};
