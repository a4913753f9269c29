// The script object `LDAP`: a thin, stateful wrapper over OpenLDAP's client
// library. Each member makes one library call and keeps the handle it gives:
// connection (init, sslinit; unbind), search result (search_s, search_st;
// msgfree), current entry (first_entry, next_entry), attribute position
// (first_attribute; next_attribute) and values (get_values, get_values_len;
// value_free). Releasing a handle clears every handle that depends on it.
//
// Sessions speak protocol 3 and never chase referrals. Library failures do
// not raise: members give 0 (or -1) and the page reads last_err_code, whose
// client-side codes are those of the Windows library (81 "server down", 85
// time-out, ...). The last error belongs to the object, not to the thread.
// Texts go to the directory as UTF-8 and come back in the page's code page
// (Windows-1252); binary values are passed through untouched.
//
// A bind with an empty password is refused (result 0, error 49): the server
// would take it as an unauthenticated bind and report success. bind_s(user,
// domain, password) sends "user@domain" and the password only over TLS
// (ldaps://, or StartTLS on ldap://); on a connection that stays plain it
// sends nothing and fails with 13, confidentiality required.
//
// search_st with 0 seconds has no time limit; a negative one gives 0 and the
// error 89 (bad parameter) without a search. Limits beyond the int range stay
// at its edge instead of wrapping.
//
// One object belongs to one run on one thread; no lock.
#pragma once

#include <memory>
#include <string>

#include "engine/script/SspObject.h"

struct ldap;
struct ldapmsg;
struct berelement;
struct berval;

// Deleters of the library's handles.
struct CLdapUnbind {
    void operator()(ldap* handle) const;
};
struct CLdapMsgFree {
    void operator()(ldapmsg* handle) const;
};
struct CLdapBerFree {
    void operator()(berelement* handle) const;
};
struct CLdapValueFree {
    void operator()(berval** values) const;
};

class CSspLdap : public CSspObject {
public:
    explicit CSspLdap(std::string name = std::string());
    ~CSspLdap() override;  // ReleaseAll
    CSspLdap(const CSspLdap&) = delete;
    CSspLdap& operator=(const CSspLdap&) = delete;

    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // Frees values, attribute position, search result and connection, in that
    // order. Safe to call any number of times.
    void ReleaseAll();

    const std::string& GetName() const { return m_strName; }
    bool IsConnected() const { return m_pConnection != nullptr; }

    // The Windows library's code for an OpenLDAP result code.
    static int WindowsErrorCode(int openLdapCode);
    // Page code page (Windows-1252) to UTF-8 and back; bytes that the code
    // page cannot hold come back as '?'.
    static std::string PageToUtf8(const std::string& text);
    static std::string Utf8ToPage(const std::string& text);

private:
    // The member table and its handlers.
    struct CMembers;

    int Init(CSspCall& call, bool secure);
    int SimpleBind(const std::string* name, const std::string* password);
    int NegotiateBind(CSspCall& call);
    // Puts the connection under TLS: ldaps:// is; a plain one asks for StartTLS.
    // LDAP_CONFIDENTIALITY_REQUIRED when it stays plain, the library's code when
    // the connection cannot be opened.
    int ProtectConnection();
    int Search(CSspCall& call, bool timed);
    int GetValues(const std::string& attribute, bool binary);
    void SetLastError(int code) { m_nLastError = code; }
    void FreeValues();
    void FreeAttributePosition();
    void FreeSearchResult();
    void Unbind();

    std::string m_strName;
    std::unique_ptr<ldap, CLdapUnbind> m_pConnection;
    std::unique_ptr<ldapmsg, CLdapMsgFree> m_pSearchResult;
    ldapmsg* m_pCurrentEntry = nullptr;  // inside m_pSearchResult; not owned
    std::unique_ptr<berelement, CLdapBerFree> m_pAttributePos;
    std::unique_ptr<berval*, CLdapValueFree> m_ppValues;  // text values are kept counted too
    int m_nValueCount = 0;
    bool m_bBinary = false;
    int m_nLastError = 0;  // OpenLDAP's code of the last library call
};
