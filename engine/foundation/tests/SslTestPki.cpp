#include "engine/foundation/tests/SslTestPki.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "engine/testsupport/WholeFile.h"

// ---- files ----------------------------------------------------------------

void WriteTextFile(const std::string& path, const std::string& text, unsigned mode) {
    WriteFile(path, text);
    chmod(path.c_str(), mode);
}

// ---- certificates ----------------------------------------------------------

void CTestCert::CFree::operator()(X509* p) const {
    X509_free(p);
}
void CTestCert::CFree::operator()(EVP_PKEY* p) const {
    EVP_PKEY_free(p);
}

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test certificate: ") + what);
    }
}

void FillName(X509_NAME* name, const CTestCert::Name& entries) {
    for (const auto& [field, value] : entries) {
        Check(X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(value.data()),
                                         static_cast<int>(value.size()), -1, 0) == 1,
              "name entry");
    }
}

std::string PemOf(int (*write)(BIO*, void*), void* object) {
    BIO* bio = BIO_new(BIO_s_mem());
    write(bio, object);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(length));
    BIO_free(bio);
    return text;
}

}  // namespace

CTestCert::CTestCert(const Name& subject, const std::vector<unsigned char>& serial,
                     const CTestCert* issuer, const std::string& notAfter,
                     const std::string& altEmail, KeyType keyType)
    : m_key(keyType == KeyType::kRsa ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256")),
      m_cert(X509_new()) {
    Check(m_key && m_cert, "key");
    X509* cert = m_cert.get();
    X509_set_version(cert, 2);
    BIGNUM* number = BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr);
    ASN1_INTEGER* asn1 = BN_to_ASN1_INTEGER(number, nullptr);
    X509_set_serialNumber(cert, asn1);
    ASN1_INTEGER_free(asn1);
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    Check(ASN1_TIME_set_string(X509_getm_notAfter(cert), notAfter.c_str()) == 1, "not after");
    FillName(X509_get_subject_name(cert), subject);
    X509_set_issuer_name(
        cert, issuer ? X509_get_subject_name(issuer->Cert()) : X509_get_subject_name(cert));
    X509_set_pubkey(cert, m_key.get());
    if (!altEmail.empty()) {
        std::string value = "email:" + altEmail;
        X509_EXTENSION* ext =
            X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, value.c_str());
        Check(ext != nullptr, "alt name");
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
    EVP_PKEY* signer = issuer ? issuer->m_key.get() : m_key.get();
    Check(X509_sign(cert, signer, EVP_sha256()) > 0, "sign");
}

CTestCert::~CTestCert() = default;

std::string CTestCert::CertPem() const {
    return PemOf([](BIO* bio, void* x) { return PEM_write_bio_X509(bio, static_cast<X509*>(x)); },
                 m_cert.get());
}

std::string CTestCert::KeyPem(const char* passPhrase) const {
    BIO* bio = BIO_new(BIO_s_mem());
    const EVP_CIPHER* cipher = passPhrase ? EVP_aes_128_cbc() : nullptr;
    PEM_write_bio_PKCS8PrivateKey(bio, m_key.get(), cipher, nullptr, 0, nullptr,
                                  const_cast<char*>(passPhrase));
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(length));
    BIO_free(bio);
    return text;
}

// ---- client ----------------------------------------------------------------

struct CDripState {
    int fd;
    size_t bytes;
};

void CTestTlsClient::CFree::operator()(SSL_CTX* p) const {
    SSL_CTX_free(p);
}
void CTestTlsClient::CFree::operator()(SSL* p) const {
    SSL_free(p);
}

namespace {

// A write BIO that sends a few bytes at a time, so the server sees records cut
// across many segments.
int DripWrite(BIO* bio, const char* data, int size) {
    const CDripState* drip = static_cast<const CDripState*>(BIO_get_data(bio));
    size_t piece = std::min(static_cast<size_t>(size), drip->bytes);
    ssize_t n = send(drip->fd, data, piece, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    return n < 0 ? -1 : static_cast<int>(n);
}

long DripCtrl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int DripCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* DripMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "drip");
        BIO_meth_set_write(m, DripWrite);
        BIO_meth_set_ctrl(m, DripCtrl);
        BIO_meth_set_create(m, DripCreate);
        return m;
    }();
    return method;
}

int ConnectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

CTestTlsClient::CTestTlsClient() = default;

CTestTlsClient::~CTestTlsClient() {
    m_ssl.reset();
    CloseSocket();
}

void CTestTlsClient::CloseSocket() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

bool CTestTlsClient::ConnectPlain(int port) {
    m_fd = ConnectLoopback(port);
    return m_fd >= 0;
}

bool CTestTlsClient::Connect(int port, const Options& options) {
    ERR_clear_error();
    m_ctx.reset(SSL_CTX_new(TLS_client_method()));
    if (!m_ctx || !ConnectPlain(port)) {
        return false;
    }
    // Old protocols must really be offered, whatever the system's defaults say.
    SSL_CTX_set_security_level(m_ctx.get(), 0);
    std::string ciphers = options.tls12Ciphers.empty() ? "DEFAULT" : options.tls12Ciphers;
    if (SSL_CTX_set_cipher_list(m_ctx.get(), (ciphers + ":@SECLEVEL=0").c_str()) != 1) {
        m_error = ERR_peek_error();
        ERR_clear_error();
        return false;
    }
    SSL_CTX_set_min_proto_version(m_ctx.get(), options.minVersion);
    SSL_CTX_set_max_proto_version(m_ctx.get(), options.maxVersion);
    m_ssl.reset(SSL_new(m_ctx.get()));
    BIO* read = BIO_new_socket(m_fd, BIO_NOCLOSE);
    BIO* write = read;
    if (options.dripBytes > 0) {
        m_drip = std::make_shared<CDripState>(CDripState{m_fd, options.dripBytes});
        write = BIO_new(DripMethod());
        BIO_set_data(write, m_drip.get());
        SSL_set0_rbio(m_ssl.get(), read);
        SSL_set0_wbio(m_ssl.get(), write);
    } else {
        SSL_set_bio(m_ssl.get(), read, write);
    }
    if (SSL_connect(m_ssl.get()) != 1) {
        m_error = ERR_peek_error();
        ERR_clear_error();
        return false;
    }
    return true;
}

bool CTestTlsClient::Write(const std::string& data) {
    return SSL_write(m_ssl.get(), data.data(), static_cast<int>(data.size())) ==
           static_cast<int>(data.size());
}

bool CTestTlsClient::WritePlain(const std::string& data) {
    return send(m_fd, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

bool CTestTlsClient::ReadToEnd(std::string* text) {
    char buffer[8192];
    while (!m_ssl) {
        ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        text->append(buffer, static_cast<size_t>(n));
    }
    for (;;) {
        int n = SSL_read(m_ssl.get(), buffer, sizeof buffer);
        if (n > 0) {
            text->append(buffer, static_cast<size_t>(n));
            continue;
        }
        bool notified = SSL_get_error(m_ssl.get(), n) == SSL_ERROR_ZERO_RETURN;
        ERR_clear_error();
        return notified;
    }
}

void CTestTlsClient::Close() {
    if (m_ssl) {
        SSL_shutdown(m_ssl.get());
    }
}

std::string CTestTlsClient::Protocol() const {
    return m_ssl ? SSL_get_version(m_ssl.get()) : "";
}

int CTestTlsClient::PeerChainLength() const {
    STACK_OF(X509)* chain = m_ssl ? SSL_get_peer_cert_chain(m_ssl.get()) : nullptr;
    return chain ? sk_X509_num(chain) : 0;
}
