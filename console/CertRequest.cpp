#include "console/CertRequest.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "console/ConsoleMessages.h"
#include "console/OpenSslPtr.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"

namespace {

constexpr const char* kServerAuth = "serverAuth";

std::string Failure(const char* what) {
    char text[64];
    std::snprintf(text, sizeof text, "%s - %lx\n", what, ERR_get_error());
    return text;
}

// Adds the subject's parts one at a time, so a comma inside a value stays in it; empty parts
// are left out.
bool FillSubject(X509_NAME* name, const CCertRequestFields& fields) {
    const std::pair<const char*, const std::string*> parts[] = {
        {"CN", &fields.m_commonName}, {"OU", &fields.m_unit},  {"O", &fields.m_organization},
        {"L", &fields.m_city},        {"ST", &fields.m_state}, {"C", &fields.m_countryCode},
    };
    for (const auto& [field, value] : parts) {
        if (!value->empty() &&
            X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value->data()),
                                       static_cast<int>(value->size()), -1, 0) != 1) {
            return false;
        }
    }
    return true;
}

bool AddServerAuth(X509_REQ* request) {
    CExtensionsPtr extensions(sk_X509_EXTENSION_new_null());
    X509_EXTENSION* usage = X509V3_EXT_conf_nid(nullptr, nullptr, NID_ext_key_usage, kServerAuth);
    if (!extensions || usage == nullptr) {
        X509_EXTENSION_free(usage);
        return false;
    }
    sk_X509_EXTENSION_push(extensions.get(), usage);
    return X509_REQ_add_extensions(request, extensions.get()) == 1;
}

// Writes the whole text to a new file of the mode; false with errno set.
bool WriteNewFile(const std::string& path, const std::string& text, mode_t mode) {
    CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (fd.Get() < 0 || ::fchmod(fd.Get(), mode) != 0) {
        return false;
    }
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

std::string KeyText(EVP_PKEY* key) {
    CBioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return std::string();
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(size));
}

// The request's file: the Base64 of its DER form between the BEGIN and END lines, CR LF ends.
std::string RequestText(X509_REQ* request) {
    unsigned char* der = nullptr;
    const int size = i2d_X509_REQ(request, &der);
    if (size <= 0) {
        return std::string();
    }
    std::string body;
    Base64Encode(der, static_cast<size_t>(size), body);
    OPENSSL_free(der);
    return "-----BEGIN CERTIFICATE REQUEST-----\r\n" + body +
           "\r\n-----END CERTIFICATE REQUEST-----\r\n";
}

// A name for the pending key no other request has: from the digest of the request.
std::string PendingKeyName(X509_REQ* request) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (X509_REQ_digest(request, EVP_sha256(), digest, &size) != 1) {
        return "request.key";
    }
    std::string name;
    char hex[3];
    for (unsigned int i = 0; i < 8 && i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        name += hex;
    }
    return name + ".key";
}

}  // namespace

std::string PendingKeyFolder(const std::string& root) {
    return root + "/certs/pending";
}

bool CreateCertificateRequest(const std::string& root, const CCertRequestFields& fields,
                              std::string& message) {
    ERR_clear_error();
    CPkeyPtr key(EVP_RSA_gen(static_cast<unsigned int>(fields.m_keyBits)));
    CX509ReqPtr request(X509_REQ_new());
    if (!key || !request || X509_REQ_set_version(request.get(), 0) != 1 ||
        !FillSubject(X509_REQ_get_subject_name(request.get()), fields) ||
        X509_REQ_set_pubkey(request.get(), key.get()) != 1 || !AddServerAuth(request.get()) ||
        X509_REQ_sign(request.get(), key.get(), EVP_sha256()) <= 0) {
        message = Failure("Failed to createFilePKCS10");
        return false;
    }
    const std::string keyText = KeyText(key.get());
    const std::string requestText = RequestText(request.get());
    if (keyText.empty() || requestText.empty()) {
        message = Failure("Failed to createFilePKCS10");
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(PendingKeyFolder(root), error);
    const std::string keyFile = PendingKeyFolder(root) + "/" + PendingKeyName(request.get());
    if (error || !WriteNewFile(keyFile, keyText, 0600)) {
        message =
            "Failed to createFilePKCS10 - " + keyFile + ": " + FormatSystemError(errno) + "\n";
        return false;
    }
    if (!WriteNewFile(fields.m_outputFile, requestText, 0644)) {
        message = "Failed to createFilePKCS10 - " + fields.m_outputFile + ": " +
                  FormatSystemError(errno) + "\n";
        ::unlink(keyFile.c_str());
        return false;
    }
    message = FormatMessage(
        "%s created. Please send this file to a CA.\nUpon approval, you will receive a new file "
        "from your CA.\nDouble click that file in Windows Explorer to install it.\nAnd then, "
        "come back to this page to select it.",
        {fields.m_outputFile});
    return true;
}
