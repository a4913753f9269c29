#include "engine/script/Rc4.h"

#include <openssl/evp.h>

#include <memory>
#include <utility>

namespace {

struct CMdDeleter {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct CMdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

void Rc4Transform(std::span<const unsigned char> key, std::span<unsigned char> data) {
    std::array<unsigned char, 256> s;
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<unsigned char>(i);
    }
    unsigned j = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    unsigned i = 0;
    j = 0;
    for (unsigned char& byte : data) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        byte ^= s[(s[i] + s[j]) & 0xFF];
    }
}

std::string Rc4Transform(const CRc4Key& key, std::string_view bytes) {
    std::string out(bytes);
    Rc4Transform(
        key, std::span<unsigned char>(reinterpret_cast<unsigned char*>(out.data()), out.size()));
    return out;
}

bool DerivePassTextKey(std::string_view passText, CRc4Key& key, std::string& failure) {
    std::unique_ptr<EVP_MD, CMdDeleter> md(EVP_MD_fetch(nullptr, "MD5", nullptr));
    if (!md) {
        failure = "AcquireContext failed.";
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, CMdCtxDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) != 1) {
        failure = "CreateHash failed.";
        return false;
    }
    if (EVP_DigestUpdate(ctx.get(), passText.data(), passText.size()) != 1) {
        failure = "HashData failed.";
        return false;
    }
    unsigned int length = 0;
    CRc4Key digest{};
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1 || length != digest.size()) {
        failure = "DeriveKey failed.";
        return false;
    }
    key = digest;
    return true;
}
