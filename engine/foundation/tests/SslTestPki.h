// Test certificates, keys and a TLS client for the certificate and HTTPS tests.
// Everything lives in a temporary folder and talks only to 127.0.0.1.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"

// Writes text to path with the given mode.
void WriteTextFile(const std::string& path, const std::string& text, unsigned mode = 0600);

// One key pair (EC P-256, or RSA 2048) with its certificate.
class CTestCert {
public:
    // {"CN", "x"}, ...
    using Name = std::vector<std::pair<std::string, std::string>>;
    enum class KeyType { kEc, kRsa };

    // Signed by issuer, or by itself without one. serial: the number's bytes,
    // most significant first. notAfter as "YYYYMMDDHHMMSSZ".
    CTestCert(const Name& subject, const std::vector<unsigned char>& serial,
              const CTestCert* issuer = nullptr, const std::string& notAfter = "20391231235959Z",
              const std::string& altEmail = "", KeyType keyType = KeyType::kEc);
    ~CTestCert();

    std::string CertPem() const;
    // The key, encrypted with passPhrase when one is given.
    std::string KeyPem(const char* passPhrase = nullptr) const;
    X509* Cert() const { return m_cert.get(); }

private:
    struct CFree {
        void operator()(X509* p) const;
        void operator()(EVP_PKEY* p) const;
    };
    std::unique_ptr<EVP_PKEY, CFree> m_key;
    std::unique_ptr<X509, CFree> m_cert;
};

// A blocking TLS client on one connection to 127.0.0.1.
class CTestTlsClient {
public:
    struct Options {
        int minVersion = 0;  // TLS1_2_VERSION ...; 0 = library default
        int maxVersion = 0;
        size_t dripBytes = 0;      // > 0: every write goes out in pieces this small
        std::string tls12Ciphers;  // the only TLS 1.2 suites offered; empty = all
    };

    CTestTlsClient();
    ~CTestTlsClient();

    // Connects and runs the handshake. False on any failure; the OpenSSL
    // error code is kept.
    bool Connect(int port, const Options& options);
    // Connects without TLS (for plain bytes on the secure port).
    bool ConnectPlain(int port);
    bool Write(const std::string& data);
    bool WritePlain(const std::string& data);
    // Reads until the server's close notify (true) or until the stream ends
    // or fails (false); what arrived is in *text. On a plain connection, raw
    // bytes until the stream ends (false).
    bool ReadToEnd(std::string* text);
    // Sends close notify.
    void Close();
    std::string Protocol() const;
    // Certificates the server sent: its own and its chain.
    int PeerChainLength() const;
    unsigned long Error() const { return m_error; }

private:
    struct CFree {
        void operator()(SSL_CTX* p) const;
        void operator()(SSL* p) const;
    };
    void CloseSocket();

    int m_fd = -1;
    std::shared_ptr<struct CDripState> m_drip;  // the slow writer's state, when used
    std::unique_ptr<SSL_CTX, CFree> m_ctx;
    std::unique_ptr<SSL, CFree> m_ssl;
    unsigned long m_error = 0;
};
