#include "engine/script/SspLdap.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <vector>

#include <ldap.h>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/foundation/Tokenizer.h"

namespace {

// Code points of Windows-1252's bytes 0x80 to 0x9F; 0 where the code page has none.
constexpr std::array<char32_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char PageByteFor(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<char>(cp);
    }
    for (size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == cp || (kCp1252High[i] == 0 && cp == 0x80 + i)) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

// A page's number as atol reads it, kept within the library's int: a larger
// limit must not wrap round to a small or negative one.
int IntArgument(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

std::string BervalText(const berval* value) {
    return std::string(value->bv_val, value->bv_len);
}

}  // namespace

void CLdapUnbind::operator()(ldap* handle) const {
    ldap_unbind_ext_s(handle, nullptr, nullptr);
}
void CLdapMsgFree::operator()(ldapmsg* handle) const {
    ldap_msgfree(handle);
}
void CLdapBerFree::operator()(berelement* handle) const {
    ber_free(handle, 0);
}
void CLdapValueFree::operator()(berval** values) const {
    ldap_value_free_len(values);
}

std::string CSspLdap::PageToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        char32_t cp = c;
        if (c >= 0x80 && c <= 0x9F && kCp1252High[c - 0x80] != 0) {
            cp = kCp1252High[c - 0x80];
        }
        AppendUtf8(cp, out);
    }
    return out;
}

std::string CSspLdap::Utf8ToPage(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        bool valid = length > 0 && i + length <= text.size();
        char32_t cp = length == 1 ? c : c & (0x3F >> (length - 1));
        for (size_t k = 1; valid && k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (!valid) {
            // Not UTF-8 after all: the byte stands for itself.
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        out.push_back(PageByteFor(cp));
        i += length;
    }
    return out;
}

int CSspLdap::WindowsErrorCode(int openLdapCode) {
    // The client-side codes run from -1 (server down) to -17 (referral limit) in
    // OpenLDAP and from 0x51 to 0x61 in the Windows library.
    if (openLdapCode <= LDAP_SERVER_DOWN && openLdapCode >= LDAP_REFERRAL_LIMIT_EXCEEDED) {
        return 0x50 - openLdapCode;
    }
    return openLdapCode;
}

CSspLdap::CSspLdap(std::string name) : m_strName(std::move(name)) {}

CSspLdap::~CSspLdap() {
    ReleaseAll();
}

void CSspLdap::FreeValues() {
    m_ppValues.reset();
    m_nValueCount = 0;
    m_bBinary = false;
}

void CSspLdap::FreeAttributePosition() {
    m_pAttributePos.reset();
}

void CSspLdap::FreeSearchResult() {
    // The entry and the attribute walk point into the result.
    m_pCurrentEntry = nullptr;
    FreeAttributePosition();
    m_pSearchResult.reset();
}

void CSspLdap::Unbind() {
    FreeSearchResult();
    m_pConnection.reset();
}

void CSspLdap::ReleaseAll() {
    FreeValues();
    Unbind();
}

int CSspLdap::Init(CSspCall& call, bool secure) {
    std::string host = call.ArgCount() > 0 ? call.GetParamStr(0) : std::string();
    long port = secure ? LDAPS_PORT : LDAP_PORT;
    if (call.ArgCount() > 1) {
        port = std::atol(call.GetParamStr(1).c_str());
    }
    Unbind();
    // Blank-separated host names are tried in turn; a name with its own port keeps it.
    std::string uris;
    CTokenizer hosts(host.c_str(), " ", false);
    for (std::string name = hosts.NextPart(); !name.empty(); name = hosts.NextPart()) {
        if (!uris.empty()) {
            uris += ' ';
        }
        uris += (secure ? "ldaps://" : "ldap://") + name;
        if (name.find(':') == std::string::npos) {
            uris += ":" + std::to_string(port);
        }
    }
    if (uris.empty()) {
        uris = secure ? "ldaps:///" : "ldap:///";
        if (call.ArgCount() > 1) {
            uris = (secure ? "ldaps://:" : "ldap://:") + std::to_string(port) + "/";
        }
    }
    LDAP* handle = nullptr;
    int rc = ldap_initialize(&handle, uris.c_str());
    SetLastError(rc);
    if (rc != LDAP_SUCCESS || handle == nullptr) {
        return 0;
    }
    m_pConnection.reset(handle);
    int version = LDAP_VERSION3;
    ldap_set_option(handle, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(handle, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    return 1;
}

int CSspLdap::SimpleBind(const std::string* name, const std::string* password) {
    if (password != nullptr && password->empty()) {
        SetLastError(LDAP_INVALID_CREDENTIALS);
        return 0;
    }
    std::string dn = name != nullptr ? PageToUtf8(*name) : std::string();
    std::string secret = password != nullptr ? PageToUtf8(*password) : std::string();
    berval credentials{static_cast<ber_len_t>(secret.size()), secret.data()};
    int rc = ldap_sasl_bind_s(m_pConnection.get(), name != nullptr ? dn.c_str() : nullptr,
                              LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
    SetLastError(rc);
    return rc == LDAP_SUCCESS ? 1 : 0;
}

int CSspLdap::ProtectConnection() {
    LDAP* ld = m_pConnection.get();
    // Opening the connection runs the TLS handshake of ldaps:// before anything is asked.
    int rc = ldap_connect(ld);
    if (rc != LDAP_SUCCESS) {
        return rc;
    }
    if (ldap_tls_inplace(ld) != 0) {
        return LDAP_SUCCESS;
    }
    rc = ldap_start_tls_s(ld, nullptr, nullptr);
    return rc == LDAP_SUCCESS && ldap_tls_inplace(ld) != 0 ? LDAP_SUCCESS
                                                           : LDAP_CONFIDENTIALITY_REQUIRED;
}

int CSspLdap::NegotiateBind(CSspCall& call) {
    if (call.ArgCount() == 3) {
        // User, domain and password: the directory's own user@domain form, which
        // is a simple bind, so the password goes out under TLS or not at all.
        std::string user = call.GetParamStr(0);
        std::string domain = call.GetParamStr(1);
        std::string password = call.GetParamStr(2);
        std::string name = domain.empty() ? user : user + "@" + domain;
        if (password.empty()) {
            return SimpleBind(&name, &password);
        }
        int rc = ProtectConnection();
        if (rc != LDAP_SUCCESS) {
            SetLastError(rc);
            return 0;
        }
        return SimpleBind(&name, &password);
    }
    // The process's own credentials: a Kerberos ticket through SASL GSSAPI.
    auto noPrompts = [](LDAP*, unsigned, void*, void*) -> int { return LDAP_SUCCESS; };
    int rc = ldap_sasl_interactive_bind_s(m_pConnection.get(), nullptr, "GSSAPI", nullptr, nullptr,
                                          LDAP_SASL_QUIET, noPrompts, nullptr);
    SetLastError(rc);
    return rc == LDAP_SUCCESS ? 1 : 0;
}

int CSspLdap::Search(CSspCall& call, bool timed) {
    std::string base = PageToUtf8(call.GetParamStr(0));
    long scope = std::atol(call.GetParamStr(1).c_str());
    if (scope != LDAP_SCOPE_BASE && scope != LDAP_SCOPE_ONELEVEL) {
        scope = LDAP_SCOPE_SUBTREE;
    }
    std::string filter = PageToUtf8(call.GetParamStr(2));
    std::string attributeText = PageToUtf8(call.GetParamStr(3));
    int attributesOnly = IntArgument(call.GetParamStr(4));
    // 0 seconds: no time limit; a negative limit is refused before anything is sent.
    timeval timeout{};
    if (timed) {
        timeout.tv_sec = IntArgument(call.GetParamStr(5));
        if (timeout.tv_sec < 0) {
            SetLastError(LDAP_PARAM_ERROR);
            return 0;
        }
    }
    const bool limited = timed && timeout.tv_sec > 0;

    std::vector<std::string> names;
    CTokenizer tokenizer(attributeText.c_str(), ", ", false);
    for (std::string name = tokenizer.NextPart(); !name.empty(); name = tokenizer.NextPart()) {
        names.push_back(std::move(name));
    }
    std::vector<char*> list;
    for (std::string& name : names) {
        list.push_back(name.data());
    }
    list.push_back(nullptr);

    FreeSearchResult();
    LDAPMessage* message = nullptr;
    int rc = ldap_search_ext_s(m_pConnection.get(), base.c_str(), static_cast<int>(scope),
                               filter.empty() ? nullptr : filter.c_str(),
                               names.empty() ? nullptr : list.data(), attributesOnly, nullptr,
                               nullptr, limited ? &timeout : nullptr, -1, &message);
    m_pSearchResult.reset(message);
    SetLastError(rc);
    return rc == LDAP_SUCCESS ? 1 : 0;
}

int CSspLdap::GetValues(const std::string& attribute, bool binary) {
    FreeValues();
    std::string name = PageToUtf8(attribute);
    berval** values = ldap_get_values_len(m_pConnection.get(), m_pCurrentEntry, name.c_str());
    if (values == nullptr) {
        int rc = LDAP_SUCCESS;
        ldap_get_option(m_pConnection.get(), LDAP_OPT_RESULT_CODE, &rc);
        SetLastError(rc);
        return -1;
    }
    m_ppValues.reset(values);
    m_nValueCount = ldap_count_values_len(values);
    m_bBinary = binary;
    SetLastError(LDAP_SUCCESS);
    return m_nValueCount;
}

// Each handler makes one library call; those that use the connection take it from
// Connection, which raises when there is none.
struct CSspLdap::CMembers {
    using Row = CSspMemberRow<CSspLdap&>;

    static LDAP* Connection(CSspLdap& self, const CSspCall& call) {
        if (!self.m_pConnection) {
            throw CSspException(g_msg.m_ldapNotInitialized, call.m_pPos);
        }
        return self.m_pConnection.get();
    }
    static void NeedResult(CSspLdap& self, const CSspCall& call) {
        if (!self.m_pSearchResult) {
            throw CSspException(g_msg.m_ldapNoSearchResult, call.m_pPos);
        }
    }
    static void NeedEntry(CSspLdap& self, const CSspCall& call) {
        if (self.m_pCurrentEntry == nullptr) {
            throw CSspException(g_msg.m_ldapNoEntry, call.m_pPos);
        }
    }
    static void NeedValues(CSspLdap& self, const CSspCall& call) {
        if (!self.m_ppValues) {
            throw CSspException(g_msg.m_ldapNoValues, call.m_pPos);
        }
    }
    static CSspValue Integer(long value) { return CSspValue::FromInteger(static_cast<int>(value)); }

    static void Init(CSspLdap& self, CSspCall& call, CSspValue& result) {
        result = Integer(self.Init(call, false));
    }
    static void SslInit(CSspLdap& self, CSspCall& call, CSspValue& result) {
        result = Integer(self.Init(call, true));
    }
    static void Bind(CSspLdap& self, CSspCall& call, CSspValue& result) {
        Connection(self, call);
        if (call.ArgCount() != 0 && call.ArgCount() != 3) {
            throw CSspException(g_msg.m_missingParameter, call.m_pPos);
        }
        result = Integer(self.NegotiateBind(call));
    }
    static void SimpleBind(CSspLdap& self, CSspCall& call, CSspValue& result) {
        Connection(self, call);
        if (call.ArgCount() == 0) {
            result = Integer(self.SimpleBind(nullptr, nullptr));
        } else if (call.ArgCount() == 2) {
            std::string name = call.GetParamStr(0);
            std::string password = call.GetParamStr(1);
            result = Integer(self.SimpleBind(&name, &password));
        } else {
            throw CSspException(g_msg.m_missingParameter, call.m_pPos);
        }
    }
    static void Search(CSspLdap& self, CSspCall& call, CSspValue& result) {
        Connection(self, call);
        result = Integer(self.Search(call, false));
    }
    static void SearchTimed(CSspLdap& self, CSspCall& call, CSspValue& result) {
        Connection(self, call);
        result = Integer(self.Search(call, true));
    }
    static void CountEntries(CSspLdap& self, CSspCall& call, CSspValue& result) {
        LDAP* ld = Connection(self, call);
        NeedResult(self, call);
        result = Integer(ldap_count_entries(ld, self.m_pSearchResult.get()));
    }
    static void FirstEntry(CSspLdap& self, CSspCall& call, CSspValue& result) {
        LDAP* ld = Connection(self, call);
        NeedResult(self, call);
        self.m_pCurrentEntry = ldap_first_entry(ld, self.m_pSearchResult.get());
        result = Integer(self.m_pCurrentEntry != nullptr ? 1 : 0);
    }
    static void NextEntry(CSspLdap& self, CSspCall& call, CSspValue& result) {
        LDAP* ld = Connection(self, call);
        NeedEntry(self, call);
        self.m_pCurrentEntry = ldap_next_entry(ld, self.m_pCurrentEntry);
        result = Integer(self.m_pCurrentEntry != nullptr ? 1 : 0);
    }
    static void GetDn(CSspLdap& self, CSspCall& call, CSspValue& result) {
        LDAP* ld = Connection(self, call);
        NeedEntry(self, call);
        char* dn = ldap_get_dn(ld, self.m_pCurrentEntry);
        result = CSspValue::FromText(dn != nullptr ? Utf8ToPage(dn) : std::string());
        if (dn == nullptr) {
            int rc = LDAP_SUCCESS;
            ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
            self.SetLastError(rc);
        }
        ldap_memfree(dn);
    }
    static void FirstAttribute(CSspLdap& self, CSspCall& call, CSspValue& result) {
        LDAP* ld = Connection(self, call);
        NeedEntry(self, call);
        self.FreeAttributePosition();
        BerElement* ber = nullptr;
        char* name = ldap_first_attribute(ld, self.m_pCurrentEntry, &ber);
        self.m_pAttributePos.reset(ber);
        result = CSspValue::FromText(name != nullptr ? Utf8ToPage(name) : std::string());
        ldap_memfree(name);
    }
    static void NextAttribute(CSspLdap& self, CSspCall& call, CSspValue& result) {
        LDAP* ld = Connection(self, call);
        NeedEntry(self, call);
        if (!self.m_pAttributePos) {
            throw CSspException(g_msg.m_ldapNoAttribute, call.m_pPos);
        }
        char* name = ldap_next_attribute(ld, self.m_pCurrentEntry, self.m_pAttributePos.get());
        result = CSspValue::FromText(name != nullptr ? Utf8ToPage(name) : std::string());
        ldap_memfree(name);
    }
    static void GetValues(CSspLdap& self, CSspCall& call, CSspValue& result) {
        Connection(self, call);
        NeedEntry(self, call);
        result = Integer(self.GetValues(call.GetParamStr(0), false));
    }
    static void GetValuesLen(CSspLdap& self, CSspCall& call, CSspValue& result) {
        Connection(self, call);
        NeedEntry(self, call);
        result = Integer(self.GetValues(call.GetParamStr(0), true));
    }
    static void CountValues(CSspLdap& self, CSspCall& call, CSspValue& result) {
        NeedValues(self, call);
        result = Integer(self.m_nValueCount);
    }
    static void Value(CSspLdap& self, CSspCall& call, CSspValue& result) {
        NeedValues(self, call);
        long index = std::atol(call.GetParamStr(0).c_str());
        if (index < 0 || index >= self.m_nValueCount) {
            throw CSspException(g_msg.m_ldapValueOutOfBound, call.m_pPos);
        }
        const berval* value = self.m_ppValues.get()[index];
        if (value == nullptr || (value->bv_val == nullptr && value->bv_len > 0)) {
            throw CSspException(g_msg.m_ldapValueNull, call.m_pPos);
        }
        result = self.m_bBinary ? CSspValue::FromBinary(BervalText(value), kSqlVarBinary)
                                : CSspValue::FromText(Utf8ToPage(BervalText(value)));
    }
    static void LastErrStr(CSspLdap& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(ldap_err2string(self.m_nLastError));
    }
    static void LastErrCode(CSspLdap& self, CSspCall&, CSspValue& result) {
        result = Integer(WindowsErrorCode(self.m_nLastError));
    }
    static void SetLimit(CSspLdap& self, CSspCall& call, CSspValue& result, int option) {
        LDAP* ld = Connection(self, call);
        result = Integer(0);
        int value = IntArgument(call.GetParamStr(0));
        if (value < 0) {
            return;
        }
        int rc = ldap_set_option(ld, option, &value);
        self.SetLastError(rc == LDAP_OPT_SUCCESS ? LDAP_SUCCESS : LDAP_PARAM_ERROR);
        result = Integer(rc == LDAP_OPT_SUCCESS ? 1 : 0);
    }
    static void SetTimeLimit(CSspLdap& self, CSspCall& call, CSspValue& result) {
        SetLimit(self, call, result, LDAP_OPT_TIMELIMIT);
    }
    static void SetSizeLimit(CSspLdap& self, CSspCall& call, CSspValue& result) {
        SetLimit(self, call, result, LDAP_OPT_SIZELIMIT);
    }
    static void GetHostName(CSspLdap& self, CSspCall& call, CSspValue& result) {
        char* host = nullptr;
        ldap_get_option(Connection(self, call), LDAP_OPT_HOST_NAME, &host);
        // OpenLDAP answers "host:port ..."; pages get the first host's name alone.
        std::string name = host != nullptr ? Utf8ToPage(host) : std::string();
        name = name.substr(0, name.find(' '));
        size_t colon = name.find(':');
        if (colon != std::string::npos && name.find(':', colon + 1) == std::string::npos) {
            name.resize(colon);
        }
        result = CSspValue::FromText(name);
        ldap_memfree(host);
    }
    static void ValueFree(CSspLdap& self, CSspCall&, CSspValue& result) {
        self.FreeValues();
        result = Integer(1);
    }
    static void MsgFree(CSspLdap& self, CSspCall&, CSspValue& result) {
        // Without a connection there is nothing that a result could belong to.
        if (self.m_pConnection) {
            self.FreeSearchResult();
        }
        result = Integer(1);
    }
    static void Unbind(CSspLdap& self, CSspCall&, CSspValue& result) {
        if (self.m_pConnection) {
            self.Unbind();
        }
        result = Integer(1);
    }

    static constexpr Row kTable[] = {
        {"init", 0, kSspAnyArgs, &Init},
        {"sslinit", 0, kSspAnyArgs, &SslInit},
        {"bind_s", 0, kSspAnyArgs, &Bind},
        {"simple_bind_s", 0, kSspAnyArgs, &SimpleBind},
        {"search_s", 5, kSspAnyArgs, &Search},
        {"search_st", 6, kSspAnyArgs, &SearchTimed},
        {"count_entries", 0, kSspAnyArgs, &CountEntries},
        {"first_entry", 0, kSspAnyArgs, &FirstEntry},
        {"next_entry", 0, kSspAnyArgs, &NextEntry},
        {"get_dn", 0, kSspAnyArgs, &GetDn},
        {"first_attribute", 0, kSspAnyArgs, &FirstAttribute},
        {"next_attribute", 0, kSspAnyArgs, &NextAttribute},
        {"get_values", 1, kSspAnyArgs, &GetValues},
        {"get_values_len", 1, kSspAnyArgs, &GetValuesLen},
        {"count_values", 0, kSspAnyArgs, &CountValues},
        {"value", 1, 1, &Value},
        {"last_err_str", 0, kSspAnyArgs, &LastErrStr},
        {"last_err_code", 0, kSspAnyArgs, &LastErrCode},
        {"set_time_limit", 1, kSspAnyArgs, &SetTimeLimit},
        {"set_size_limit", 1, kSspAnyArgs, &SetSizeLimit},
        {"get_host_name", 0, kSspAnyArgs, &GetHostName},
        {"value_free", 0, kSspAnyArgs, &ValueFree},
        {"msgfree", 0, kSspAnyArgs, &MsgFree},
        {"unbind", 0, kSspAnyArgs, &Unbind},
    };
};

void CSspLdap::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    DispatchSspMemberRow(CMembers::kTable, call, result, g_msg.m_unknownFunctionOrField, *this);
}
