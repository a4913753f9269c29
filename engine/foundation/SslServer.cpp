#include "engine/foundation/SslServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/stat.h>

#include <optional>
#include <vector>

#include "engine/foundation/CertificateInfo.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SslTransport.h"

namespace {

int NoPassword(char*, int, int, void*) {
    return 0;
}

const unsigned char kSessionContext[] = "Tallgrove";

// Forward secrecy and authenticated encryption only; TLS 1.3 keeps OpenSSL's own suites.
const char kTls12Ciphers[] = "ECDHE+AESGCM:ECDHE+CHACHA20";

// Logs the load failure with OpenSSL's own words for it on the next line.
void LogCredentialError() {
    unsigned long code = ERR_peek_last_error();
    g_log.Log("Error 0x%x returned by AcquireCredentialsHandle", static_cast<unsigned>(code));
    if (code != 0) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof reason);
        g_log.Log("%s", reason);
    }
    ERR_clear_error();
}

}  // namespace

void CSslServer::CCtxDeleter::operator()(SSL_CTX* ctx) const {
    SSL_CTX_free(ctx);
}

CSslServer::~CSslServer() = default;

bool CSslServer::AcquireCredentials(const std::string& certFolder, const std::string& subject,
                                    const std::string& issuer, const std::string& serial) {
    if (subject.empty()) {
        g_log.Log("Certficate not specified.");
        return false;
    }
    std::vector<CCertificateInfo> list;
    if (!ListCertificates(certFolder, list)) {
        return false;
    }
    std::optional<CCertificateInfo> found = FindServerCertificate(list, subject, issuer, serial);
    if (!found) {
        g_log.Log("Certificate [%s] not found.", serial.c_str());
        return false;
    }
    std::string keyFile = FindPrivateKeyFile(found->m_file);
    if (keyFile.empty()) {
        g_log.Log("No private key found for certificate file [%s].", found->m_file.c_str());
        return false;
    }
    struct stat st {};
    if (stat(keyFile.c_str(), &st) != 0 || (st.st_mode & 077) != 0) {
        g_log.Log("Key file [%s] must be readable by its owner only (mode 0600).", keyFile.c_str());
        return false;
    }

    ERR_clear_error();
    std::unique_ptr<SSL_CTX, CCtxDeleter> ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx) {
        ERR_clear_error();
        g_log.Log("Error initializing the security library.");
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_default_passwd_cb(ctx.get(), NoPassword);
    SSL_CTX_set_session_id_context(ctx.get(), kSessionContext, sizeof kSessionContext - 1);
    if (SSL_CTX_set_cipher_list(ctx.get(), kTls12Ciphers) != 1 ||
        SSL_CTX_use_certificate_chain_file(ctx.get(), found->m_file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx.get()) != 1) {
        LogCredentialError();
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_ctx = std::move(ctx);
    return true;
}

void CSslServer::FreeCredentials() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_ctx.reset();
}

bool CSslServer::IsAcquired() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_ctx != nullptr;
}

void CSslServer::SetPlainRequestHint(bool on) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_plainRequestHint = on;
}

std::unique_ptr<CSslTransport> CSslServer::NewSession() const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_ctx) {
        return nullptr;
    }
    // The session holds its own reference to the context from here on.
    return std::make_unique<CSslTransport>(m_ctx.get(), m_plainRequestHint);
}

bool CSslServer::Attach(CSocketConn& conn) const {
    std::unique_ptr<CSslTransport> transport = NewSession();
    if (!transport) {
        return false;
    }
    conn.SetSslOn(true);
    conn.SetTransport(std::move(transport));
    return true;
}

CSslServer& ServerSsl() {
    // OpenSSL first, so that its clean-up at exit comes after this object's.
    static const bool initialised = OPENSSL_init_ssl(0, nullptr) == 1;
    static CSslServer server;
    (void)initialised;
    return server;
}

bool AcquireServerCredentials(const std::string& certFolder, const std::string& subject,
                              const std::string& issuer, const std::string& serial) {
    return ServerSsl().AcquireCredentials(certFolder, subject, issuer, serial);
}

void FreeServerCredentials() {
    ServerSsl().FreeCredentials();
}

void EndThreadSsl() {
    OPENSSL_thread_stop();
}
