#pragma once

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/script/Rc4.h"
#include "engine/script/SspVarTable.h"

class CSspCall;
class CSspValue;

// One logged-on user's session. The server context's list holds one reference
// (std::shared_ptr) and every run that found or made the session holds another, so a record
// removed from the list stays usable by the runs that still have it.
//
// Session ID: position 0 a random capital, 1 the check letter, 2 the character of code
// (year - 1933), 3 'A' + month - 1, 4-11 "%d%H%M%S" of the local creation time, 12 '-', then
// the user ID. The check letter is 'A' + (sum of the signed bytes from position 2) % 26 with
// C's remainder (negative sums give characters below 'A', as stored IDs already have them).
//
// Besides the ID, which pages and administrators see, each record carries a secret of 128
// random bits (32 lower-case hex digits) that only the browser holding the session knows;
// the server context finds a session only when both are presented.
//
// Thread-safety: every public member takes the record's own lock; the texts fixed at
// construction are read without it.
class CSessionRecord {
public:
    // Length of the ID before the user ID.
    static constexpr std::size_t kHeaderLength = 13;

    // A session for `userId` created at `now` with the given random capital ('A'..'Z') in
    // position 0; the secret is drawn from the system's random source.
    CSessionRecord(const std::string& userId, const std::string& clientIp,
                   const std::string& appPath, int timeoutMinutes, std::time_t now,
                   char randomLetter);
    ~CSessionRecord();
    CSessionRecord(const CSessionRecord&) = delete;
    CSessionRecord& operator=(const CSessionRecord&) = delete;

    // The ID for `userId` created at `now` (local time) with `randomLetter` in position 0.
    static std::string MakeSessionId(const std::string& userId, std::time_t now, char randomLetter);
    // 'A' + (sum of the signed bytes of `body`) % 26, with C's remainder.
    static char CheckLetter(std::string_view body);
    // A capital 'A'..'Z' from the system's random source.
    static char RandomLetter();
    // `bytes` random bytes from the system's random source as lower-case hex.
    static std::string RandomHex(std::size_t bytes);

    // The creation time written in `id`; 1 January 1990 00:00:00 local time for an ID of 12
    // characters or fewer.
    static std::time_t StartTimeFromId(std::string_view id);
    // Expired when the ID has 12 characters or fewer, when more than `minutes` whole minutes
    // passed between its creation and `now`, or when its check letter is wrong.
    static bool IsExpiredId(std::string_view id, int minutes, std::time_t now);
    // "%s - %s" of the creation time's date-and-time text and the user ID (for messages).
    static std::string Describe(std::string_view id);
    // The ID after its first 13 characters; empty for a shorter ID.
    static std::string UserIdFromId(std::string_view id);

    const std::string& GetSessionId() const { return m_strId; }
    const std::string& GetClientIp() const { return m_strClientIp; }
    const std::string& GetAppPath() const { return m_strAppPath; }
    const std::string& GetSecret() const { return m_strSecret; }
    int GetTimeout() const { return m_nTimeout; }
    std::string GetUserId() const { return UserIdFromId(m_strId); }
    std::time_t GetStartTime() const { return StartTimeFromId(m_strId); }
    bool IsExpired(int minutes, std::time_t now) const {
        return IsExpiredId(m_strId, minutes, now);
    }

    // True when `secret` equals the record's secret (compared in constant time).
    bool MatchesSecret(std::string_view secret) const;

    void SetLastAccess(std::time_t t);
    std::time_t GetLastAccess() const;

    bool HasCipherKey() const;

    // The Session members other than logon and logoff, under the record's lock: validate,
    // IsValid, SessionID, exist, VarExist, cipherKeyCreated, createCipherKey,
    // destroyCipherKey, cipher, decipher, SetVar, Var, and a bare name reading the variable.
    // `now` is the time that validate and IsValid measure against. Errors are CSspException
    // at the call's position, except validate's expired text, which has none.
    void CallMethod(CSspCall& call, CSspValue& result, std::time_t now);

private:
    // The member table and its handlers.
    struct CMembers;

    void CreateCipherKey(CSspCall& call);

    const std::string m_strId;
    const std::string m_strClientIp;
    const std::string m_strAppPath;
    const int m_nTimeout;
    const std::string m_strSecret;

    mutable std::mutex m_lock;  // guards every member below
    std::time_t m_tLastAccess;
    CSspVarTable m_vars;
    std::optional<CRc4Key> m_cipherKey;
};

using CSessionRef = std::shared_ptr<CSessionRecord>;
