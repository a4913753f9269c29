#include "engine/script/FileIdUrl.h"

#include <array>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/Base64.h"
#include "engine/settings/ServerSettings.h"

namespace {

constexpr char kBase62Digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

int DrawServerNumber() {
    std::random_device source;
    return static_cast<int>(source() % 32768u);
}

std::atomic<int>& ServerNumberSlot() {
    static std::atomic<int> number{DrawServerNumber()};
    return number;
}

int Base62Digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 36;
    }
    return 0;
}

// atol of the text, clamped to the 32-bit range.
std::int64_t ReadFileId(std::string_view text) {
    std::string copy(text);
    long long value = std::strtoll(copy.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return value;
}

// The check digits over the body and the three names.
std::string CheckDigits(std::string_view body, std::string_view table, std::string_view keyColumn,
                        std::string_view dataColumn) {
    std::uint32_t sum1 = 0;
    std::uint32_t sum2 = 0;
    SumAlternateChars(body, sum1, sum2);
    SumAlternateChars(table, sum1, sum2);
    SumAlternateChars(keyColumn, sum1, sum2);
    SumAlternateChars(dataColumn, sum1, sum2);
    std::string check;
    check += static_cast<char>('0' + sum1 % 10);
    check += static_cast<char>('0' + sum2 % 10);
    return check;
}

// Used only while the settings hold no key of the installation's.
const CFileTokenKey& ProcessKey() {
    static const CFileTokenKey key = [] {
        CFileTokenKey made{};
        if (!MakeFileTokenKey(made)) {
            std::random_device source;
            for (unsigned char& byte : made) {
                byte = static_cast<unsigned char>(source());
            }
        }
        return made;
    }();
    return key;
}

using CMacBytes = std::array<unsigned char, 32>;

// Each field with its length in front, so that no two lists of fields sign the same bytes.
CMacBytes MacOf(const CFileIdToken& fields, const CFileTokenKey& key) {
    std::string message = "velmorin attachment 1";
    for (const std::string* field :
         {&fields.m_table, &fields.m_keyColumn, &fields.m_checkAndBody, &fields.m_dataColumn}) {
        const auto size = static_cast<std::uint32_t>(field->size());
        for (int shift = 24; shift >= 0; shift -= 8) {
            message += static_cast<char>((size >> shift) & 0xff);
        }
        message += *field;
    }
    CMacBytes mac{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), mac.data(),
         &length);
    return mac;
}

int ClampedSessionTimeout() {
    int minutes = g_settings.GeneralSessionTimeout;
    return minutes < 0 || minutes > 1440 ? 600 : minutes;
}

}  // namespace

std::string EncodeBase62(std::int64_t n) {
    std::string out;
    if (n < 0) {
        return out;
    }
    while (n > 61) {
        out.insert(out.begin(), kBase62Digits[n % 62]);
        n /= 62;
    }
    out.insert(out.begin(), kBase62Digits[n]);
    return out;
}

std::int64_t DecodeBase62(std::string_view text) {
    std::int64_t value = 0;
    for (char c : text) {
        int digit = Base62Digit(c);
        if (value > (INT64_MAX - digit) / 62) {
            return INT64_MAX;
        }
        value = value * 62 + digit;
    }
    return value;
}

void SumAlternateChars(std::string_view text, std::uint32_t& sum1, std::uint32_t& sum2) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        (i % 2 == 0 ? sum1 : sum2) += byte;
    }
}

CFileTokenKey FileIdTokenKey() {
    CFileTokenKey key{};
    return ParseFileTokenKey(g_settings.FileTokenKey, key) ? key : ProcessKey();
}

int FileIdServerNumber() {
    return ServerNumberSlot().load(std::memory_order_relaxed);
}

void SetFileIdServerNumber(int number) {
    ServerNumberSlot().store(number, std::memory_order_relaxed);
}

std::string BuildFileIdUrl(std::string_view table, std::string_view keyColumn,
                           std::string_view fileIdText, std::string_view dataColumn,
                           std::string_view fileName) {
    return BuildFileIdUrlAt(table, keyColumn, fileIdText, dataColumn, fileName,
                            FileIdServerNumber(), std::time(nullptr), FileIdTokenKey());
}

std::string BuildFileIdUrlAt(std::string_view table, std::string_view keyColumn,
                             std::string_view fileIdText, std::string_view dataColumn,
                             std::string_view fileName, int serverNumber, std::time_t now,
                             const CFileTokenKey& key) {
    std::int64_t fileId = ReadFileId(fileIdText);
    if (fileId < 0) {
        return std::string();
    }
    std::tm local{};
    localtime_r(&now, &local);
    int years = local.tm_year - 100;
    if (years > 62) {
        years = 62;
    } else if (years < 0) {
        years = 10;
    }
    std::string body;
    body += static_cast<char>('0' + fileId % 10);
    char number[8];
    std::snprintf(number, sizeof number, "%.4d",
                  static_cast<int>((serverNumber % 10000 + 10000) % 10000));
    body += number;
    for (int field : {years, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min}) {
        body += EncodeBase62(field);
    }
    body += EncodeBase62(fileId);

    CFileIdToken fields{std::string(table), std::string(keyColumn),
                        CheckDigits(body, table, keyColumn, dataColumn) + body,
                        std::string(dataColumn), std::string()};
    std::string tokenText = fields.m_table + '-' + fields.m_keyColumn + '-' +
                            fields.m_checkAndBody + '-' + fields.m_dataColumn + '-' +
                            FileIdTokenMac(fields, key);

    std::string coded;
    Base64Encode(tokenText.data(), tokenText.size(), coded);
    // A URL segment cannot hold the encoder's line breaks.
    std::string token = WithoutLineBreaks(coded);
    SwapCharPairs(token);
    std::string url = "fileInDB/";
    url += token;
    url += '/';
    url += fileName;
    return url;
}

int DecodeFileId(std::string_view table, std::string_view keyColumn, std::string_view r,
                 std::string_view dataColumn) {
    return DecodeFileIdAt(table, keyColumn, r, dataColumn, FileIdServerNumber(),
                          ClampedSessionTimeout(), std::time(nullptr));
}

int DecodeFileIdAt(std::string_view table, std::string_view keyColumn, std::string_view r,
                   std::string_view dataColumn, int serverNumber, int timeoutMinutes,
                   std::time_t now) {
    if (r.size() < 13) {
        return kFileIdTooShort;
    }
    if (CheckDigits(r.substr(2), table, keyColumn, dataColumn) != r.substr(0, 2)) {
        return kFileIdBadCheck;
    }
    std::string number(r.substr(3, 4));
    if (std::atoi(number.c_str()) != (serverNumber % 10000 + 10000) % 10000) {
        return kFileIdOtherServer;
    }
    std::tm made{};
    made.tm_year = static_cast<int>(DecodeBase62(r.substr(7, 1))) + 100;
    made.tm_mon = static_cast<int>(DecodeBase62(r.substr(8, 1))) - 1;
    made.tm_mday = static_cast<int>(DecodeBase62(r.substr(9, 1)));
    made.tm_hour = static_cast<int>(DecodeBase62(r.substr(10, 1)));
    made.tm_min = static_cast<int>(DecodeBase62(r.substr(11, 1)));
    made.tm_isdst = -1;
    std::time_t madeAt = std::mktime(&made);
    if (madeAt == static_cast<std::time_t>(-1) ||
        (static_cast<std::int64_t>(now) - madeAt) / 60 > timeoutMinutes) {
        return kFileIdExpired;
    }
    std::int64_t fileId = DecodeBase62(r.substr(12));
    if (fileId > INT32_MAX || r[2] != static_cast<char>('0' + fileId % 10)) {
        return kFileIdBadLastDigit;
    }
    return static_cast<int>(fileId);
}

CFileIdToken SplitFileIdToken(std::string_view token) {
    std::string swapped(token);
    SwapCharPairs(swapped);
    std::vector<char> buffer(swapped.size() + 8);
    long count = 0;
    Base64Decode(swapped.c_str(), buffer.data(), static_cast<long>(buffer.size()), count, true);
    std::string_view text(buffer.data(), count > 0 ? static_cast<std::size_t>(count) : 0);
    CFileIdToken fields;
    std::string* slots[] = {&fields.m_table, &fields.m_keyColumn, &fields.m_checkAndBody};
    for (std::string* slot : slots) {
        std::size_t dash = text.find('-');
        *slot = std::string(text.substr(0, dash));
        text = dash == std::string_view::npos ? std::string_view() : text.substr(dash + 1);
    }
    std::size_t last = text.rfind('-');
    fields.m_dataColumn = std::string(text.substr(0, last));
    if (last != std::string_view::npos) {
        fields.m_mac = std::string(text.substr(last + 1));
    }
    return fields;
}

std::string FileIdTokenMac(const CFileIdToken& fields, const CFileTokenKey& key) {
    return FileTokenKeyText(MacOf(fields, key));  // the same hex form as a key
}

int DecodeFileIdTokenAt(std::string_view token, CFileIdToken& fields, const CFileTokenKey& key,
                        int serverNumber, int timeoutMinutes, std::time_t now) {
    fields = SplitFileIdToken(token);
    const CMacBytes expected = MacOf(fields, key);
    // A mac of the wrong shape is still compared, against bytes that cannot match.
    CMacBytes presented{};
    const bool shaped = ParseFileTokenKey(fields.m_mac, presented);
    const bool genuine =
        CRYPTO_memcmp(expected.data(), presented.data(), expected.size()) == 0 && shaped;
    if (!genuine) {
        return kFileIdForged;
    }
    return DecodeFileIdAt(fields.m_table, fields.m_keyColumn, fields.m_checkAndBody,
                          fields.m_dataColumn, serverNumber, timeoutMinutes, now);
}

int DecodeFileIdToken(std::string_view token, CFileIdToken& fields) {
    return DecodeFileIdTokenAt(token, fields, FileIdTokenKey(), FileIdServerNumber(),
                               ClampedSessionTimeout(), std::time(nullptr));
}
