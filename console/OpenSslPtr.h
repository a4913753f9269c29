// OpenSSL objects owned by unique_ptr: each freed by its own function.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

template <auto Free>
struct COpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

using CBioPtr = std::unique_ptr<BIO, COpenSslFree<BIO_free_all>>;
using CPkeyPtr = std::unique_ptr<EVP_PKEY, COpenSslFree<EVP_PKEY_free>>;
using CX509Ptr = std::unique_ptr<X509, COpenSslFree<X509_free>>;
using CX509ReqPtr = std::unique_ptr<X509_REQ, COpenSslFree<X509_REQ_free>>;
using CPkcs7Ptr = std::unique_ptr<PKCS7, COpenSslFree<PKCS7_free>>;
using CX509NamePtr = std::unique_ptr<X509_NAME, COpenSslFree<X509_NAME_free>>;

inline void FreeExtensions(STACK_OF(X509_EXTENSION) * list) {
    sk_X509_EXTENSION_pop_free(list, X509_EXTENSION_free);
}
using CExtensionsPtr = std::unique_ptr<STACK_OF(X509_EXTENSION), COpenSslFree<FreeExtensions>>;
