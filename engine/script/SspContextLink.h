#pragma once

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "engine/script/SessionRecord.h"

class CSspCall;
class CSspRequestObject;
class CSspResponseObject;
class CSspValue;

// What a run needs of the server context besides its data sources (CSspServerLink): the lock
// that serialises whole runs, the session list and applications for the Session, SessMan and
// App objects, the clock, and the cookies, fields and client address of the HTTP request and
// response (which live in the web layer). The server context installs one at start-up;
// without one those objects raise kNotAvailable. Implementations take their own locks; none
// of these is called under a session record's or an application's lock.
class CSspContextLink {
public:
    static constexpr const char* kNotAvailable = "Session object not available.";
    // The cookie that carries the session ID (pages and administrators know it).
    static constexpr const char* kIdCookie = "sspSessionID";
    // The HttpOnly cookie that carries the session's secret.
    static constexpr const char* kKeyCookie = "sspSessionKey";

    virtual ~CSspContextLink() = default;

    // Held by a run from its start to its end: owns the server context's (re-entrant) lock
    // when database access is serialised, else owns nothing. Nested runs on the same thread
    // take it again.
    virtual std::unique_lock<std::recursive_mutex> LockRun() = 0;

    // The time sessions are made and measured with.
    virtual std::time_t Now() = 0;

    // The live session with exactly `id` whose secret is `secret`, its last access set to now;
    // nullptr when there is none.
    virtual CSessionRef FindSession(const std::string& id, const std::string& secret) = 0;
    // A new session in the list (expired ones are dropped first), with an ID unique among the
    // live sessions.
    virtual CSessionRef CreateSession(const std::string& userId, const std::string& clientIp,
                                      const std::string& appPath) = 0;
    // Removes the first session with `id` from the list.
    virtual void RemoveSession(const std::string& id) = 0;
    // Removes every session of `userId` (any case).
    virtual void RemoveUserSessions(const std::string& userId) = 0;
    // One "%s\n%s\n%s\n%s\n%s" line per session (user ID, client address, start time, last
    // access, application path), sorted without regard to case.
    virtual std::vector<std::string> ListSessions() = 0;

    // App.<member> for a page in `urlFolder` (Init, IsValid, then the application's own).
    virtual void CallAppMember(const std::string& urlFolder, CSspCall& call, CSspValue& result) = 0;

    // The HTTP side of a run. Objects the web layer does not recognise give empty answers.
    virtual std::string RequestCookie(CSspRequestObject& request, const std::string& name) = 0;
    virtual std::string RequestField(CSspRequestObject& request, const std::string& name) = 0;
    virtual std::string ClientAddress(CSspRequestObject& request) = 0;
    virtual std::string ResponseCookie(CSspResponseObject& response, const std::string& name) = 0;
    // Sets kIdCookie (the ID) and kKeyCookie (the secret, HttpOnly) for `path`, no expiry.
    virtual void SetSessionCookies(CSspResponseObject& response, const CSessionRecord& session,
                                   const std::string& path) = 0;

    // The installed link, or nullptr. Every run asks: inline.
    static CSspContextLink* Current() { return s_pCurrent.load(std::memory_order_acquire); }
    // Installs `link` (nullptr removes it) and makes the Session, SessMan and App objects
    // known by name. Call at start-up, before any run.
    static void Install(CSspContextLink* link);

private:
    static inline std::atomic<CSspContextLink*> s_pCurrent{nullptr};
};
