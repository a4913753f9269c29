// The server's TLS credentials: one certificate with its key and chain, chosen
// from the certificate folder (see CertificateInfo.h), offered with TLS 1.2 and
// newer only (SSL 3.0, TLS 1.0 and 1.1 are refused), no renegotiation. TLS 1.2
// takes ECDHE suites with AES-GCM or ChaCha20-Poly1305 only.
//
// The program holds one set (the free functions below), acquired before the
// HTTPS listener starts and freed after it stopped; the set is only read while
// listeners run. Connections made from it keep what they need, so freeing the
// credentials never pulls the ground from under a connection still served.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <mutex>
#include <string>

class CSocketConn;
class CSslTransport;

class CSslServer {
public:
    constexpr CSslServer() = default;
    ~CSslServer();
    CSslServer(const CSslServer&) = delete;
    CSslServer& operator=(const CSslServer&) = delete;

    // Finds the certificate by subject (any case), issuer and serial text in
    // certFolder and loads it with its key and chain; replaces credentials held
    // before. Returns false after logging why:
    //   "Certficate not specified."            empty subject
    //   "Error 0x%x returned by CertOpenSystemStore"  unreadable folder (errno)
    //   "Certificate [%s] not found."          no match (the serial text)
    //   "No private key found for certificate file [%s]."
    //   "Key file [%s] must be readable by its owner only (mode 0600)."
    //   "Error 0x%x returned by AcquireCredentialsHandle" and OpenSSL's reason
    //                                          a key that does not fit or cannot
    //                                          be read, an unreadable chain
    //   "Error initializing the security library."
    // A failure leaves the credentials held before as they were.
    bool AcquireCredentials(const std::string& certFolder, const std::string& subject,
                            const std::string& issuer, const std::string& serial);
    void FreeCredentials();
    bool IsAcquired() const;

    // Logs the plain-request hint on this set's connections (the studio does).
    void SetPlainRequestHint(bool on);

    // Marks conn as a secure connection and puts the TLS layer under it; the
    // handshake runs on its first read or write. False, leaving conn as it
    // was, without credentials.
    bool Attach(CSocketConn& conn) const;
    // A fresh TLS layer for one connection; nullptr without credentials.
    std::unique_ptr<CSslTransport> NewSession() const;

private:
    struct CCtxDeleter {
        void operator()(SSL_CTX* ctx) const;
    };

    mutable std::mutex m_lock;
    std::unique_ptr<SSL_CTX, CCtxDeleter> m_ctx;
    bool m_plainRequestHint = false;
};

// The program's one set of credentials.
CSslServer& ServerSsl();

// ServerSsl().AcquireCredentials with the certificate settings.
bool AcquireServerCredentials(const std::string& certFolder, const std::string& subject,
                              const std::string& issuer, const std::string& serial);
// ServerSsl().FreeCredentials.
void FreeServerCredentials();

// Frees OpenSSL's state of the calling thread (its error queue and random generators). A
// thread that did TLS work calls it before it reports itself ended: its own exit, which
// would free them too, may come after the process's.
void EndThreadSsl();
