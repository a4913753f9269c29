#include "engine/script/SspToCipher.h"

#include <vector>

#include "engine/foundation/Base64.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/FileIdUrl.h"
#include "engine/script/SspObject.h"

const CCipherTexts kToCipherTexts{"Call to.createCipherKey first.", "Ciphertext limited to 256.",
                                  nullptr};
const CCipherTexts kSessionCipherTexts{
    "Call session.createCryptKey first.", "Text to be decrypted cannot exceed 256 characters.",
    "Cipher key already created. Please call destroyCipherKey first."};

CSspToCipher g_sspToCipher;

namespace {

const char kTextTooLong[] = "text to be encrypted cannot exceed 256 characters.";
const char kNegativeFileId[] = "The file ID of an attachment URL cannot be negative: ";

}  // namespace

std::string CipherPassText(const CRc4Key* key, std::string_view text, const CCipherTexts& texts,
                           const char* pos) {
    if (text.size() > kMaxCipherText) {
        throw CSspException(kTextTooLong, pos);
    }
    if (text.empty()) {
        return std::string();
    }
    if (key == nullptr) {
        throw CSspException(texts.m_noKey, pos);
    }
    std::string coded;
    std::string bytes = Rc4Transform(*key, text);
    Base64Encode(bytes.data(), bytes.size(), coded);
    return coded;
}

std::string DecipherPassText(const CRc4Key* key, std::string_view coded, const CCipherTexts& texts,
                             const char* pos) {
    if (coded.empty()) {
        return std::string();
    }
    if (key == nullptr) {
        throw CSspException(texts.m_noKey, pos);
    }
    // Room for everything the text can decode to: the limit is checked on the real count, and
    // nothing is written past the buffer whatever the text holds.
    std::string text(coded);
    std::vector<char> buffer(text.size() / 4 * 3 + 8);
    long count = 0;
    Base64Decode(text.c_str(), buffer.data(), static_cast<long>(buffer.size()), count, true);
    if (count < 0 || static_cast<std::size_t>(count) > kMaxCipherText) {
        throw CSspException(texts.m_tooLong, pos);
    }
    return Rc4Transform(*key, std::string_view(buffer.data(), static_cast<std::size_t>(count)));
}

bool CSspToCipher::HasKey() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_key.has_value();
}

bool CSspToCipher::CreateKey(std::string_view passText, const char* pos) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_key.has_value()) {
        return false;
    }
    CRc4Key key{};
    std::string failure;
    if (!DerivePassTextKey(passText, key, failure)) {
        throw CSspException(failure, pos);
    }
    m_key = key;
    return true;
}

void CSspToCipher::DestroyKey() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_key.reset();
}

std::optional<CRc4Key> CSspToCipher::KeyCopy() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_key;
}

std::string CSspToCipher::Cipher(std::string_view text, const char* pos) const {
    std::optional<CRc4Key> key = KeyCopy();
    return CipherPassText(key ? &*key : nullptr, text, kToCipherTexts, pos);
}

std::string CSspToCipher::Decipher(std::string_view coded, const char* pos) const {
    std::optional<CRc4Key> key = KeyCopy();
    return DecipherPassText(key ? &*key : nullptr, coded, kToCipherTexts, pos);
}

namespace {

using CRow = CSspMemberRow<CSspToCipher&>;

void KeyCreated(CSspToCipher& self, CSspCall&, CSspValue& result) {
    result = CSspValue::FromInteger(self.HasKey() ? 1 : 0);
}
void CreateKey(CSspToCipher& self, CSspCall& call, CSspValue& result) {
    if (self.CreateKey(call.GetParamStr(0), call.m_pPos)) {
        result = CSspValue::FromInteger(1);
    }
}
void DestroyKey(CSspToCipher& self, CSspCall&, CSspValue&) {
    self.DestroyKey();
}
void Cipher(CSspToCipher& self, CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(self.Cipher(call.GetParamStr(0), call.m_pPos));
}
void Decipher(CSspToCipher& self, CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(self.Decipher(call.GetParamStr(0), call.m_pPos));
}
void FileUrl(CSspToCipher&, CSspCall& call, CSspValue& result) {
    std::string id = call.GetParamStr(2);
    std::string url = BuildFileIdUrl(call.GetParamStr(0), call.GetParamStr(1), id,
                                     call.GetParamStr(3), call.GetParamStr(4));
    if (url.empty()) {
        throw CSspException(kNegativeFileId + id, call.m_pPos);
    }
    result = CSspValue::FromText(std::move(url));
}

constexpr int kAny = kSspAnyArgs;
constexpr CRow kTable[] = {
    {"cipherKeyCreated", 0, kAny, &KeyCreated}, {"createCipherKey", 1, kAny, &CreateKey},
    {"destroyCipherKey", 0, kAny, &DestroyKey}, {"cipher", 1, kAny, &Cipher},
    {"decipher", 1, kAny, &Decipher},           {"fileUrl", 5, kAny, &FileUrl},
};

}  // namespace

bool CSspToCipher::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    const CRow* row = FindSspMemberRow(kTable, call.m_strMember);
    if (row == nullptr) {
        return false;
    }
    CallSspMemberRow(*row, call, result, *this);
    return true;
}

void InstallSspToCipher() {
    g_sspTo.SetCipherMembers(&g_sspToCipher);
}
