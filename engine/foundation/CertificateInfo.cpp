#include "engine/foundation/CertificateInfo.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/LogWriter.h"

namespace {

struct CBioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct CX509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct CNamesFree {
    void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};
struct CUtf8Free {
    void operator()(unsigned char* text) const { OPENSSL_free(text); }
};

using CBio = std::unique_ptr<BIO, CBioFree>;

// Never prompt for a pass phrase: a server has no one to answer.
int NoPassword(char*, int, int, void*) {
    return 0;
}

bool IsCertificateFileName(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    std::string ext = name.substr(dot);
    ext = AsciiLowerCopy(ext);
    return ext == ".pem" || ext == ".crt" || ext == ".cer";
}

std::optional<std::string> Utf8Of(const ASN1_STRING* value) {
    unsigned char* out = nullptr;
    int length = ASN1_STRING_to_UTF8(&out, value);
    if (length < 0) {
        ERR_clear_error();
        return std::nullopt;
    }
    std::unique_ptr<unsigned char, CUtf8Free> owned(out);
    return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(length));
}

std::optional<std::string> EntryText(const X509_NAME* name, int index) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, index);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return Utf8Of(X509_NAME_ENTRY_get_data(entry));
}

// The simple display name: the first common name, else unit, else organisation,
// else e-mail attribute; else the e-mail address among the alternative names
// (altNid); else the first attribute of any kind. nullopt when the chosen value
// cannot be decoded.
std::optional<std::string> DisplayNameOf(const X509_NAME* name, const X509* cert, int altNid) {
    if (name == nullptr) {
        return std::nullopt;
    }
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                    NID_pkcs9_emailAddress}) {
        int index = X509_NAME_get_index_by_NID(name, nid, -1);
        if (index >= 0) {
            return EntryText(name, index);
        }
    }
    std::unique_ptr<GENERAL_NAMES, CNamesFree> names(
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, altNid, nullptr, nullptr)));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* general = sk_GENERAL_NAME_value(names.get(), i);
        if (general->type == GEN_EMAIL) {
            return Utf8Of(general->d.rfc822Name);
        }
    }
    if (X509_NAME_entry_count(name) == 0) {
        return std::string();
    }
    return EntryText(name, 0);
}

std::time_t TimeOf(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
        return 0;
    }
    return timegm(&tm);
}

std::string SerialTextOf(const X509* cert) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    unsigned char* der = nullptr;
    int length = i2d_ASN1_INTEGER(serial, &der);
    if (length < 2) {
        OPENSSL_free(der);
        return std::string();
    }
    std::unique_ptr<unsigned char, CUtf8Free> owned(der);
    // Skip the tag and the length: what follows are the content bytes as encoded.
    size_t header = 2;
    if (der[1] & 0x80) {
        header += der[1] & 0x7F;
    }
    if (header > static_cast<size_t>(length)) {
        return std::string();
    }
    return FormatSerialText(
        std::span<const unsigned char>(der + header, static_cast<size_t>(length) - header));
}

CBio OpenFile(const std::string& path) {
    return CBio(BIO_new_file(path.c_str(), "r"));
}

}  // namespace

std::string CertificateFolderOf(const std::string& root) {
    return root + "/certs";
}

std::string FormatSerialText(std::span<const unsigned char> bytes) {
    std::string text;
    char hex[3];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
        if (i % 2 == 1 && i + 1 < bytes.size()) {
            text += ' ';
        }
    }
    return text;
}

bool ReadCertificateInfo(const X509* cert, CCertificateInfo& info) {
    std::optional<std::string> subject =
        DisplayNameOf(X509_get_subject_name(cert), cert, NID_subject_alt_name);
    if (!subject) {
        g_log.Log("Failed to get certificate subject");
        return false;
    }
    std::optional<std::string> issuer =
        DisplayNameOf(X509_get_issuer_name(cert), cert, NID_issuer_alt_name);
    if (!issuer) {
        g_log.Log("Failed to get certificate issuer");
        return false;
    }
    info.m_name = std::move(*subject);
    info.m_issuer = std::move(*issuer);
    info.m_serial = SerialTextOf(cert);
    info.m_notAfter = TimeOf(X509_get0_notAfter(cert));
    return true;
}

bool ListCertificates(const std::string& folder, std::vector<CCertificateInfo>& list) {
    list.clear();
    std::vector<std::string> files;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) {
        g_log.Log("Error 0x%x returned by CertOpenSystemStore",
                  static_cast<unsigned>(error.value()));
        return false;
    }
    for (std::filesystem::directory_iterator end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && IsCertificateFileName(it->path().filename().string())) {
            files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());

    for (const std::string& file : files) {
        CBio bio = OpenFile(file);
        std::unique_ptr<X509, CX509Free> cert(
            bio ? PEM_read_bio_X509(bio.get(), nullptr, NoPassword, nullptr) : nullptr);
        ERR_clear_error();
        if (!cert) {
            continue;
        }
        CCertificateInfo info;
        if (!ReadCertificateInfo(cert.get(), info)) {
            break;
        }
        info.m_file = file;
        list.push_back(std::move(info));
    }
    return true;
}

std::optional<CCertificateInfo> FindServerCertificate(const std::vector<CCertificateInfo>& list,
                                                      const std::string& subject,
                                                      const std::string& issuer,
                                                      const std::string& serial) {
    for (const CCertificateInfo& info : list) {
        if (AsciiEqualNoCase(info.m_name, subject) && info.m_issuer == issuer &&
            info.m_serial == serial) {
            return info;
        }
    }
    return std::nullopt;
}

std::string FindPrivateKeyFile(const std::string& certFile) {
    auto holdsKey = [](const std::string& path) {
        CBio bio = OpenFile(path);
        if (!bio) {
            ERR_clear_error();
            return false;
        }
        // Only the block's presence matters here; an encrypted key still counts, so
        // the load reports why it cannot be used.
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        bool found = false;
        while (!found && PEM_read_bio(bio.get(), &name, &header, &data, &length) == 1) {
            std::string kind = name;
            found = kind.size() >= 11 && kind.compare(kind.size() - 11, 11, "PRIVATE KEY") == 0;
            OPENSSL_free(name);
            OPENSSL_free(header);
            OPENSSL_free(data);
        }
        ERR_clear_error();
        return found;
    };
    if (holdsKey(certFile)) {
        return certFile;
    }
    std::filesystem::path beside(certFile);
    beside.replace_extension(".key");
    if (holdsKey(beside.string())) {
        return beside.string();
    }
    return std::string();
}
