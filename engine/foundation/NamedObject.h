// Host-wide named objects of one installation: the server's single-instance lock, its stop
// event (which the console also opens) and the console's single-instance object.
//
// They live in the root's tmp/, which the installation keeps 0770 with the root folder's
// group, so only its administrators can make, take or reach them; a tmp/ that others may
// write to is not trusted and no object is made or believed there. Abstract socket names
// would vanish with their process but carry no permissions: any user of the host could
// take one first. A lock is an flock on "<name>.lock", which dies with its process too, so
// a killed holder leaves only a file the next holder reuses. An event is a unix socket
// "<name>" beside its lock; it is bound and reached through /proc/self/fd/<tmp/>/<name>,
// which keeps the socket's address short whatever the root's length.
//
// A stop event "exists" while a connect to it succeeds and its holder is of this
// installation (SO_PEERCRED: root, this user, the root folder's owner or a member of its
// group); "setting" it is sending one byte. The event is manual-reset: once set it stays
// set. The holder takes a set only from a peer of the same user or root; others are logged
// and ignored.
#pragma once

#include <string>

#include "engine/foundation/UniqueFd.h"

// The root's tmp/, made 0770 with the root folder's group when missing (`create`); -1 with
// errno set when it is missing, cannot be opened or may be written by users outside the
// installation (EPERM, logged).
int OpenObjectFolder(const std::string& root, bool create);

// A connected socket to the object `name` of `root` whose holder is of this installation;
// -1 when there is none. A holder that is not is reported on stderr and in the log.
int ConnectNamedObject(const std::string& root, const std::string& name);

// Held while the object lives; a second holder of the same name is refused.
class CNamedMutex {
public:
    enum class Result { kCreated, kExists, kError };

    CNamedMutex() = default;
    ~CNamedMutex();  // Close
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    // kExists when another object (in any process) holds the name; kError with errno set
    // when the lock could not be made for another reason.
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

    // Creates the event, not set. False (errno set; EADDRINUSE when another process holds
    // it) when it cannot be made.
    bool Create(const std::string& root, const std::string& name);
    bool IsOpen() const { return m_fd.Get() >= 0; }
    // The listening socket, for a holder that takes its connections itself.
    int ListeningFd() const { return m_fd.Get(); }

    // Blocks until the event is set by a permitted peer or Set, or until wakeFd (when not
    // -1) becomes readable. True when the event is set; false for a wake or a failed wait
    // (errno set). Returns at once once set.
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
    CUniqueFd m_lock;
    CUniqueFd m_folder;
    std::string m_name;
    bool m_set = false;
};
