#include "engine/script/SessionRecord.h"

#include <sys/random.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspTo.h"
#include "engine/script/SspToCipher.h"

namespace {

void FillRandom(void* buffer, std::size_t length) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = getrandom(bytes + done, length - done, 0);
        if (n < 0) {
            // Without the system's random source a session could be guessed: refuse to make one.
            throw std::runtime_error("no random source");
        }
        done += static_cast<std::size_t>(n);
    }
}

int TwoDigits(std::string_view id, std::size_t at) {
    return std::atoi(std::string(id.substr(at, 2)).c_str());
}

}  // namespace

CSessionRecord::CSessionRecord(const std::string& userId, const std::string& clientIp,
                               const std::string& appPath, int timeoutMinutes, std::time_t now,
                               char randomLetter)
    : m_strId(MakeSessionId(userId, now, randomLetter)),
      m_strClientIp(clientIp),
      m_strAppPath(appPath),
      m_nTimeout(timeoutMinutes),
      m_strSecret(RandomHex(16)),
      m_tLastAccess(now) {}

CSessionRecord::~CSessionRecord() = default;

std::string CSessionRecord::MakeSessionId(const std::string& userId, std::time_t now,
                                          char randomLetter) {
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d", local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    std::string body;
    body += static_cast<char>(local.tm_year - 33);
    body += static_cast<char>('A' + local.tm_mon);
    body += stamp;
    body += '-';
    body += userId;
    std::string id;
    id += randomLetter;
    id += CheckLetter(body);
    id += body;
    return id;
}

char CSessionRecord::CheckLetter(std::string_view body) {
    // Signed bytes on every platform, so IDs made elsewhere check the same here.
    long sum = 0;
    for (char c : body) {
        sum += static_cast<signed char>(c);
    }
    return static_cast<char>('A' + sum % 26);
}

char CSessionRecord::RandomLetter() {
    unsigned int r = 0;
    FillRandom(&r, sizeof r);
    return static_cast<char>('A' + r % 26);
}

std::string CSessionRecord::RandomHex(std::size_t bytes) {
    std::string raw(bytes, '\0');
    FillRandom(raw.data(), raw.size());
    return CSspTo::Hex(raw);
}

std::time_t CSessionRecord::StartTimeFromId(std::string_view id) {
    std::tm local{};
    local.tm_isdst = -1;
    if (id.size() <= 12) {
        local.tm_year = 90;
        local.tm_mday = 1;
    } else {
        local.tm_year = static_cast<unsigned char>(id[2]) + 33;
        local.tm_mon = static_cast<unsigned char>(id[3]) - 65;
        local.tm_mday = TwoDigits(id, 4);
        local.tm_hour = TwoDigits(id, 6);
        local.tm_min = TwoDigits(id, 8);
        local.tm_sec = TwoDigits(id, 10);
    }
    return std::mktime(&local);
}

bool CSessionRecord::IsExpiredId(std::string_view id, int minutes, std::time_t now) {
    if (id.size() <= 12) {
        return true;
    }
    long long elapsed = (static_cast<long long>(now) - StartTimeFromId(id)) / 60;
    if (elapsed > minutes) {
        return true;
    }
    return id[1] != CheckLetter(id.substr(2));
}

std::string CSessionRecord::Describe(std::string_view id) {
    CSspDateTime start(static_cast<std::int64_t>(StartTimeFromId(id)));
    return start.GetDateTimeStr() + " - " + UserIdFromId(id);
}

std::string CSessionRecord::UserIdFromId(std::string_view id) {
    return id.size() <= kHeaderLength ? std::string() : std::string(id.substr(kHeaderLength));
}

bool CSessionRecord::MatchesSecret(std::string_view secret) const {
    if (secret.size() != m_strSecret.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (std::size_t i = 0; i < secret.size(); ++i) {
        diff |= static_cast<unsigned char>(secret[i] ^ m_strSecret[i]);
    }
    return diff == 0;
}

void CSessionRecord::SetLastAccess(std::time_t t) {
    std::lock_guard lock(m_lock);
    m_tLastAccess = t;
}

std::time_t CSessionRecord::GetLastAccess() const {
    std::lock_guard lock(m_lock);
    return m_tLastAccess;
}

bool CSessionRecord::HasCipherKey() const {
    std::lock_guard lock(m_lock);
    return m_cipherKey.has_value();
}

// The handlers run under the record's lock, which CallMethod holds, with the result already
// set to 1. SetVar checks its own count: its text differs.
struct CSessionRecord::CMembers {
    using Row = CSspMemberRow<CSessionRecord&, std::time_t>;

    static void Validate(CSessionRecord& self, std::time_t now, CSspCall&, CSspValue&) {
        if (self.IsExpired(self.m_nTimeout, now)) {
            char text[512];
            std::snprintf(text, sizeof text, g_msg.m_sessionExpired,
                          Describe(self.m_strId).c_str());
            throw CSspException(text);
        }
    }
    static void IsValid(CSessionRecord& self, std::time_t now, CSspCall&, CSspValue& result) {
        result = CSspValue::FromInteger(self.IsExpired(self.m_nTimeout, now) ? 0 : 1);
    }
    static void SessionId(CSessionRecord& self, std::time_t, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(self.m_strId);
    }
    static void Exist(CSessionRecord& self, std::time_t, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromInteger(self.m_vars.Has(call.GetParamStr(0)) ? 1 : 0);
    }
    static void CipherKeyCreated(CSessionRecord& self, std::time_t, CSspCall&, CSspValue& result) {
        result = CSspValue::FromInteger(self.m_cipherKey ? 1 : 0);
    }
    static void CreateCipherKey(CSessionRecord& self, std::time_t, CSspCall& call, CSspValue&) {
        self.CreateCipherKey(call);
    }
    static void DestroyCipherKey(CSessionRecord& self, std::time_t, CSspCall&, CSspValue&) {
        self.m_cipherKey.reset();
    }
    static void Cipher(CSessionRecord& self, std::time_t, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromText(CipherPassText(self.m_cipherKey ? &*self.m_cipherKey : nullptr,
                                                    call.GetParamStr(0), kSessionCipherTexts,
                                                    call.m_pPos));
    }
    static void Decipher(CSessionRecord& self, std::time_t, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromText(
            DecipherPassText(self.m_cipherKey ? &*self.m_cipherKey : nullptr, call.GetParamStr(0),
                             kSessionCipherTexts, call.m_pPos));
    }
    static void SetVar(CSessionRecord& self, std::time_t, CSspCall& call, CSspValue& result) {
        self.m_vars.SetVar(call);
        result = CSspValue();
    }
    static void Var(CSessionRecord& self, std::time_t, CSspCall& call, CSspValue& result) {
        self.m_vars.ReadVar(call, result, g_msg.m_sessionVarNotDefined);
    }

    static constexpr int kAny = kSspAnyArgs;
    static constexpr Row kTable[] = {
        {"validate", 0, kAny, &Validate},
        {"IsValid", 0, kAny, &IsValid},
        {"SessionID", 0, kAny, &SessionId},
        {"exist", 1, kAny, &Exist},
        {"VarExist", 1, kAny, &Exist},
        {"cipherKeyCreated", 0, kAny, &CipherKeyCreated},
        {"createCipherKey", 1, kAny, &CreateCipherKey},
        {"destroyCipherKey", 0, kAny, &DestroyCipherKey},
        {"cipher", 1, kAny, &Cipher},
        {"decipher", 1, kAny, &Decipher},
        {"SetVar", 0, kAny, &SetVar},
        {"Var", 0, kAny, &Var},
    };
};

void CSessionRecord::CallMethod(CSspCall& call, CSspValue& result, std::time_t now) {
    std::lock_guard lock(m_lock);
    result = CSspValue::FromInteger(1);
    const CMembers::Row* row = FindSspMemberRow(CMembers::kTable, call.m_strMember);
    if (row == nullptr) {
        m_vars.ReadNamedVar(call, result, g_msg.m_sessionVarNotDefined);
        return;
    }
    CallSspMemberRow(*row, call, result, *this, now);
}

void CSessionRecord::CreateCipherKey(CSspCall& call) {
    if (m_cipherKey) {
        throw CSspException(kSessionCipherTexts.m_keyExists, call.m_pPos);
    }
    CRc4Key key;
    std::string failure;
    if (!DerivePassTextKey(call.GetParamStr(0), key, failure)) {
        throw CSspException(failure, call.m_pPos);
    }
    m_cipherKey = key;
}
