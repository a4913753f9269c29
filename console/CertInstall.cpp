#include "console/CertInstall.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "console/CertRequest.h"
#include "console/OpenSslPtr.h"
#include "engine/foundation/CertificateInfo.h"

namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CBioPtr MemoryBio(const std::string& bytes) {
    return CBioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

void TakeSigned(PKCS7* p7, std::vector<CX509Ptr>& certs) {
    if (p7 == nullptr || !PKCS7_type_is_signed(p7) || p7->d.sign == nullptr) {
        return;
    }
    STACK_OF(X509)* list = p7->d.sign->cert;
    for (int i = 0; list != nullptr && i < sk_X509_num(list); ++i) {
        X509* cert = sk_X509_value(list, i);
        X509_up_ref(cert);
        certs.emplace_back(cert);
    }
}

// Every certificate of the file, in the file's order: PEM certificates, a PEM or DER PKCS #7
// file, or one DER certificate.
std::vector<CX509Ptr> ReadCertificates(const std::string& bytes) {
    std::vector<CX509Ptr> certs;
    CBioPtr pem = MemoryBio(bytes);
    while (X509* cert = PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr)) {
        certs.emplace_back(cert);
    }
    if (!certs.empty()) {
        return certs;
    }
    CBioPtr p7pem = MemoryBio(bytes);
    CPkcs7Ptr p7(PEM_read_bio_PKCS7(p7pem.get(), nullptr, nullptr, nullptr));
    if (!p7) {
        const unsigned char* der = reinterpret_cast<const unsigned char*>(bytes.data());
        p7.reset(d2i_PKCS7(nullptr, &der, static_cast<long>(bytes.size())));
    }
    TakeSigned(p7.get(), certs);
    if (certs.empty()) {
        const unsigned char* der = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509* cert = d2i_X509(nullptr, &der, static_cast<long>(bytes.size()))) {
            certs.emplace_back(cert);
        }
    }
    return certs;
}

CPkeyPtr ReadKey(const std::string& path) {
    const std::string bytes = ReadWhole(path);
    CBioPtr bio = MemoryBio(bytes);
    return CPkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

bool WriteFile(const std::string& path, BIO* bio, fs::perms mode) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        fs::permissions(path, mode);
        out.write(data, size);
        if (!out.flush()) {
            return false;
        }
    }
    std::error_code error;
    fs::permissions(path, mode, error);
    return !error;
}

// Stores the certificate with its chain and key where the server reads them.
bool StoreInstalled(const std::string& root, const std::vector<CX509Ptr>& certs, size_t leaf,
                    EVP_PKEY* key) {
    CCertificateInfo info;
    ReadCertificateInfo(certs[leaf].get(), info);
    std::string base = "server-";
    for (char c : info.m_serial) {
        base += c == ' ' ? '-' : c;
    }
    const std::string folder = CertificateFolderOf(root);
    CBioPtr chain(BIO_new(BIO_s_mem()));
    bool written = PEM_write_bio_X509(chain.get(), certs[leaf].get()) == 1;
    for (size_t i = 0; i < certs.size(); ++i) {
        written = written && (i == leaf || PEM_write_bio_X509(chain.get(), certs[i].get()) == 1);
    }
    CBioPtr keyText(BIO_new(BIO_s_mem()));
    written = written && PEM_write_bio_PrivateKey(keyText.get(), key, nullptr, nullptr, 0, nullptr,
                                                  nullptr) == 1;
    const fs::perms keyMode = fs::perms::owner_read | fs::perms::owner_write;
    return written && WriteFile(folder + "/" + base + ".key", keyText.get(), keyMode) &&
           WriteFile(folder + "/" + base + ".pem", chain.get(),
                     keyMode | fs::perms::group_read | fs::perms::others_read);
}

}  // namespace

bool InstallCertificate(const std::string& root, const std::string& file, std::string& message) {
    ERR_clear_error();
    const std::vector<CX509Ptr> certs = ReadCertificates(ReadWhole(file));
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(PendingKeyFolder(root), error)) {
        CPkeyPtr key =
            entry.path().extension() == ".key" ? ReadKey(entry.path().string()) : CPkeyPtr();
        for (size_t leaf = 0; key && leaf < certs.size(); ++leaf) {
            if (X509_check_private_key(certs[leaf].get(), key.get()) == 1 &&
                StoreInstalled(root, certs, leaf, key.get())) {
                fs::remove(entry.path(), error);
                message = "Accepted PKCS7 from file successfully";
                return true;
            }
        }
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "Failed to acceptFilePKCS7 - %lx\nProbably the certificate request was not "
                  "generated on this\ncomputer, or the certificate has already been installed",
                  ERR_peek_last_error());
    message = text;
    return false;
}
