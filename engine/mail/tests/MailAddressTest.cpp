#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/foundation/Base64.h"
#include "engine/mail/MailAddress.h"

namespace {

// "addr|name" for each address, then "!bad" for each element that is not one.
std::vector<std::string> Parsed(const std::string& text) {
    const CMailAddressList list = ParseMailAddresses(text);
    std::vector<std::string> out;
    for (const CMailAddress& address : list.m_addresses) {
        out.push_back(address.m_strAddress + "|" + address.m_strName);
    }
    for (const std::string& bad : list.m_bad) {
        out.push_back("!" + bad);
    }
    return out;
}

using List = std::vector<std::string>;

}  // namespace

TEST(MailAddress, ListsAsScriptsWriteThem) {
    const struct {
        const char* m_text;
        List m_parsed;
    } cases[] = {
        {"Bob Smith <bob@example.test>", {"bob@example.test|Bob Smith"}},
        {"\"Smith, Bob\" <bob@x.test>, carol@y.test", {"bob@x.test|Smith, Bob", "carol@y.test|"}},
        {"jd@x.org (John Doe)", {"jd@x.org|John Doe"}},
        {"<ann@x.test>;ann2@x.test", {"ann@x.test|", "ann2@x.test|"}},
        {"\"Say \\\"hi\\\"\" <q@x.test>", {"q@x.test|Say \"hi\""}},
        {"Bob (work) <bob@x.test> (old)", {"bob@x.test|Bob"}},
        {"\"john doe\"@x.org", {"\"john doe\"@x.org|"}},
        {"a@[192.0.2.1]", {"a@[192.0.2.1]|"}},
        {"z\xC3\xB6@b\xC3\xBC.test", {"z\xC3\xB6@b\xC3\xBC.test|"}},
        // What older queues hold: blank-separated, quoted bare addresses.
        {"a@x b@y\r\n\tc@z", {"a@x|", "b@y|", "c@z|"}},
        {"\"boss@corp.example\"", {"boss@corp.example|"}},
        {" , ;; ", {}},
        // Not addresses; the rest of the list still counts.
        {"Bob Smith", {"!Bob Smith"}},
        {"Smith, Bob <bob@x.test>", {"bob@x.test|Bob", "!Smith"}},
        {"bob", {"!bob"}},
        {"Bob bob@x.test", {"!Bob bob@x.test"}},
        {"<>, a@x", {"a@x|", "!<>"}},
        {"<a@x> <b@y>", {"!<a@x> <b@y>"}},
        {"<a@x> tail", {"!<a@x> tail"}},
        {"a..b@x", {"!a..b@x"}},
        {".a@x", {"!.a@x"}},
        {"a@x.", {"!a@x."}},
        {"a@", {"!a@"}},
        {"@x", {"!@x"}},
        {"Bob <bob@x", {"!Bob <bob@x"}},
        {"\"open <a@x>", {"!\"open <a@x>"}},
        {"a@x (open", {"!a@x (open"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parsed(c.m_text), c.m_parsed) << c.m_text;
    }
}

TEST(MailAddress, HeaderForms) {
    const struct {
        CMailAddress m_address;
        const char* m_header;
    } cases[] = {
        {{"b@x", ""}, "b@x"},
        {{"b@x", "Bob Smith"}, "Bob Smith <b@x>"},
        {{"b@x", "Smith, Bob"}, "\"Smith, Bob\" <b@x>"},
        {{"b@x", "J. R. \"Bob\" \\ Smith"}, "\"J. R. \\\"Bob\\\" \\\\ Smith\" <b@x>"},
        // Looks like an encoded word, so it is quoted to stay literal.
        {{"b@x", "=?x?="}, "\"=?x?=\" <b@x>"},
        {{"z@x", "Zo\xC3\xAB"}, "=?UTF-8?B?Wm/Dqw==?= <z@x>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddressForHeader(c.m_address), c.m_header) << c.m_address.m_strName;
    }
}

TEST(MailAddress, LongNonAsciiNameIsWholeCharactersInShortWords) {
    std::string name;
    for (int i = 0; i < 40; ++i) {
        name += "\xC3\xA9\xE2\x82\xAC";  // two- and three-byte characters
    }
    const std::string header = DisplayNameForHeader(name);
    std::string decoded;
    size_t pos = 0;
    int words = 0;
    while (pos < header.size()) {
        size_t end = header.find(' ', pos);
        if (end == std::string::npos) {
            end = header.size();
        }
        const std::string word = header.substr(pos, end - pos);
        EXPECT_LE(word.size(), 75u) << word;
        ASSERT_EQ(word.rfind("=?UTF-8?B?", 0), 0u) << word;
        ASSERT_EQ(word.substr(word.size() - 2), "?=") << word;
        const std::string base64 = word.substr(10, word.size() - 12);
        std::vector<char> buffer(base64.size() + 8);
        long count = 0;
        Base64Decode(base64.c_str(), buffer.data(), static_cast<long>(buffer.size()), count, true);
        const std::string bytes(buffer.data(), static_cast<size_t>(count));
        // Each word ends on a character boundary: its last byte is not the start of a
        // sequence that continues in the next word.
        ASSERT_FALSE(bytes.empty());
        const unsigned char last = static_cast<unsigned char>(bytes.back());
        EXPECT_TRUE(last < 0x80 || (last & 0xC0) == 0x80) << word;
        EXPECT_NE(static_cast<unsigned char>(bytes.front()) & 0xC0, 0x80) << word;
        decoded += bytes;
        ++words;
        pos = end + 1;
    }
    EXPECT_GT(words, 1);
    EXPECT_EQ(decoded, name);
}

TEST(MailAddress, LongListsAreFoldedBetweenAddresses) {
    std::vector<CMailAddress> addresses;
    for (int i = 0; i < 12; ++i) {
        addresses.push_back({"person" + std::to_string(i) + "@example.test", "Person Number"});
    }
    const std::string value = "To: " + AddressListForHeader(addresses, 4);
    size_t start = 0;
    int lines = 0;
    for (;;) {
        size_t end = value.find("\r\n", start);
        const std::string line = value.substr(start, end - start);
        EXPECT_LE(line.size(), 78u) << line;
        if (lines > 0) {
            EXPECT_EQ(line[0], ' ') << line;
        }
        ++lines;
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    EXPECT_GT(lines, 1);
    // Unfolded, it is the list again.
    std::string unfolded = value.substr(4);
    for (size_t at; (at = unfolded.find("\r\n")) != std::string::npos;) {
        unfolded.erase(at, 2);
    }
    EXPECT_EQ(ParseMailAddresses(unfolded).m_addresses.size(), addresses.size());
    EXPECT_TRUE(ParseMailAddresses(unfolded).m_bad.empty());
}
