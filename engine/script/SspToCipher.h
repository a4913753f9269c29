#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/script/Rc4.h"
#include "engine/script/SspTo.h"

// The pass-text cipher of the To object (one key for the whole process) and the attachment
// URLs of To.fileUrl. The Session object's per-session cipher reuses CipherPassText and
// DecipherPassText with its own key, lock and texts.

// The longest plain text, and the longest deciphered text, in bytes.
inline constexpr std::size_t kMaxCipherText = 256;

// The error texts that differ between the To and the Session cipher.
struct CCipherTexts {
    const char* m_noKey;      // cipher or decipher without a key
    const char* m_tooLong;    // decipher of more than kMaxCipherText bytes
    const char* m_keyExists;  // createCipherKey with a key (nullptr: keep the first key silently)
};

extern const CCipherTexts kToCipherTexts;       // "Call to.createCipherKey first.", ...
extern const CCipherTexts kSessionCipherTexts;  // "Call session.createCryptKey first.", ...

// The Base64 (CR LF after every 76 characters) of `text` RC4-enciphered with `key`; the
// ciphertext has as many bytes as the text. An empty text gives an empty result. Throws
// CSspException at `pos`: "text to be encrypted cannot exceed 256 characters." for a longer
// text (checked first), texts.m_noKey when `key` is null.
std::string CipherPassText(const CRc4Key* key, std::string_view text, const CCipherTexts& texts,
                           const char* pos);

// The plain bytes of a Base64 ciphertext (characters outside the alphabet skipped). An empty
// text gives an empty result. Throws CSspException at `pos`: texts.m_noKey when `key` is null,
// texts.m_tooLong when the text decodes to more than kMaxCipherText bytes. Under another key
// the result is other bytes, without an error.
std::string DecipherPassText(const CRc4Key* key, std::string_view coded, const CCipherTexts& texts,
                             const char* pos);

// The members cipherKeyCreated, createCipherKey, destroyCipherKey, cipher, decipher and fileUrl
// of the To object, with the process-wide key. Every member takes the key's lock, so pages on
// several threads may create, use and destroy the key at once.
class CSspToCipher : public CSspToCipherMembers {
public:
    // Runs the member named by call.m_strMember (any case) and returns true; false for a name
    // that is not one of the above. Too few arguments: "Missing parameter." at call.m_pPos.
    //   cipherKeyCreated   integer 1 with a key, else 0
    //   createCipherKey(p) integer 1 after making the key from p; with a key already nothing
    //                      changes and `result` is left as it is
    //   destroyCipherKey   drops the key; `result` is left as it is
    //   cipher(t)          CipherPassText with the key
    //   decipher(t)        DecipherPassText with the key ("Ciphertext limited to 256.")
    //   fileUrl(table, key column, id, data column, name)   BuildFileIdUrl
    bool CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    bool HasKey() const;
    // Makes the key from the pass text unless one exists; false when one existed. Throws
    // CSspException at `pos` with the failing step's text; no key is left then.
    bool CreateKey(std::string_view passText, const char* pos = nullptr);
    void DestroyKey();
    std::string Cipher(std::string_view text, const char* pos = nullptr) const;
    std::string Decipher(std::string_view coded, const char* pos = nullptr) const;

private:
    std::optional<CRc4Key> KeyCopy() const;

    mutable std::mutex m_lock;
    std::optional<CRc4Key> m_key;
};

// The process-wide To cipher.
extern CSspToCipher g_sspToCipher;

// Plugs g_sspToCipher into g_sspTo. Programs call it once at start-up, before pages run.
void InstallSspToCipher();
