#include <string>

#include <gtest/gtest.h>

#include "engine/mail/MailHeader.h"

namespace {

TEST(MimeHeader, AddressAndDisplayName) {
    struct Case {
        const char* m_text;
        const char* m_address;
        const char* m_name;
    };
    const Case cases[] = {
        {"\"John Doe\" <jd@x.org>", "jd@x.org", "John Doe"},
        {" jd@x.org (John Doe)", "jd@x.org", "John Doe"},
        {"jd@x.org", "jd@x.org", "jd"},
        {"  Ann  <ann@y.org>  ", "ann@y.org", "Ann"},
        {"Name [n@x.org]", "n@x.org", "Name"},
        {"<@x.org>", "@x.org", "@x.org"},
        {"nobody", "nobody", "nobody"},
        {"", "", ""},
        {"=?iso-8859-1?Q?Jos=E9?= <j@x.org>", "j@x.org", "=?iso-8859-1?Q?Jos=E9?="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_text);
        std::string address;
        std::string name;
        ParseMailAddress(c.m_text, address, name);
        EXPECT_EQ(address, c.m_address);
        EXPECT_EQ(name, c.m_name);
    }
}

TEST(MimeHeader, AddressLists) {
    struct Case {
        const char* m_text;
        const char* m_list;
    };
    const Case cases[] = {
        {" a@x.org, b@y.org", "a@x.org, b@y.org"},
        {"\"Smith, Ann\" <ann@y.org>; bob@z.org (Bob)", "ann@y.org, bob@z.org"},
        {",, ;a@x.org,;", "a@x.org"},
        {"", ""},
        {"Undisclosed recipients:;", "Undisclosed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_text);
        EXPECT_EQ(ParseMailAddressList(c.m_text), c.m_list);
    }
}

TEST(MimeHeader, EncodedWords) {
    struct Case {
        const char* m_text;
        const char* m_decoded;
    };
    const Case cases[] = {
        {"=?iso-8859-1?Q?Caf=E9_au_lait?=", "Caf\xE9 au lait"},
        {"=?ISO-8859-1?Q?Caf=E9?=", "Caf\xE9"},
        {"Re: =?iso-8859-15?B?Q2Fm6Q==?= and =?iso-8859-1?q?x=3Dy?=!", "Re: Caf\xE9 and x=y!"},
        // The text opening with "=" is not the word's end.
        {"=?iso-8859-1?Q?=E9t=E9?=", "\xE9t\xE9"},
        // Other character sets stay as they are.
        {"=?utf-8?Q?Caf=C3=A9?=", "=?utf-8?Q?Caf=C3=A9?="},
        // Without its closing "?=" the word is left alone.
        {"=?iso-8859-1?Q?open ended", "=?iso-8859-1?Q?open ended"},
        {"=?iso-8859-1?X?abc?=", "=?iso-8859-1?X?abc?="},
        {"=?iso-?=", "=?iso-?="},
        // Decoded bytes are never decoded again.
        {"=?iso-8859-1?Q?=3D=3Fiso-8859-1=3FQ=3Fx=3F=3D?=", "=?iso-8859-1?Q?x?="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_text);
        EXPECT_EQ(DecodeEncodedWords(c.m_text), c.m_decoded);
    }
}

TEST(MimeHeader, Parameters) {
    struct Case {
        const char* m_field;
        const char* m_key;
        const char* m_value;
    };
    const Case cases[] = {
        {"Content-Type: multipart/mixed; boundary=\"a b;c\"", "boundary", "a b;c"},
        {"Content-Type: multipart/mixed; boundary=abc; charset=x", "boundary", "abc"},
        {"Content-Type: multipart/mixed;\tBOUNDARY=abc def", "boundary", "abc"},
        {"Content-Type: text/plain; name=\"x.txt", "name", "x.txt"},
        {"Content-Disposition: attachment; filename=\" spaced.txt \"", "filename", "spaced.txt"},
        {"Content-Type: text/plain", "name", ""},
        {"Content-Type: text/plain; name=", "name", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_field);
        EXPECT_EQ(MailHeaderParam(c.m_field, c.m_key), c.m_value);
    }
}

TEST(MimeHeader, HtmlTags) {
    const std::string html = "<html><Body\tclass=x>text</BODY><body";
    EXPECT_EQ(FindHtmlTag(html, "body", false), 6);
    EXPECT_EQ(FindHtmlTag(html, "body", true), 19);
    EXPECT_EQ(FindHtmlTag(html, "/body", false), 24);
    EXPECT_EQ(FindHtmlTag(html, "/body", false, 25), -1);
    // A tag name at the very end, or without its '>', is no match.
    EXPECT_EQ(FindHtmlTag("<bodyguard>", "body", false), -1);
    EXPECT_EQ(FindHtmlTag("<body ", "body", true), -1);
}

}  // namespace
