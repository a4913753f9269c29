#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/mail/MimeReader.h"
#include "engine/settings/MimeMap.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/WholeFile.h"

namespace {

std::string DataFile(const std::string& name) {
    return std::string(VELMORIN_TEST_DATA) + "/mime/" + name;
}

struct Parsed {
    CMimeMessage m_message;
    std::string m_log;
};

Parsed ParseBytes(const std::string& bytes, const std::string& path = "msg.eml",
                  CMimeReader::Allocator allocator = nullptr) {
    CMimeMap map;
    map.FillDefaults();
    CCapturedLog log;
    Parsed out;
    CMimeReader reader(map, log.Writer(), path);
    reader.SetAllocator(std::move(allocator));
    reader.Parse(bytes, out.m_message);
    out.m_log = log.All();
    return out;
}

Parsed ParseFile(const std::string& name) {
    return ParseBytes(ReadFile(DataFile(name)), DataFile(name));
}

// "name:size" of every attachment, joined by "|".
std::string AttachmentList(const CMimeMessage& message) {
    std::string out;
    for (const CMailAttachment& a : message.m_attachments) {
        out += (out.empty() ? "" : "|") + a.m_strName + ":" + std::to_string(a.m_data.size());
    }
    return out;
}

struct MessageCase {
    const char* m_file;
    const char* m_from;
    const char* m_fromName;
    const char* m_subject;
    const char* m_content;
    const char* m_html;  // htmlContent
    const char* m_attachments;
};

const MessageCase kMessages[] = {
    {"qp_soft_break.eml", "jd@x.org", "John Doe", "Caf\xE9 au lait", "HelloWorld=1", "", ""},
    {"alternative.eml", "jd@x.org", "John Doe", "Two forms", "plain text", "hi", ""},
    {"mixed.eml", "sender@x.org", "sender", "Caf\xE9 report", "the body", "<p>no body tag</p>",
     "a.txt:5|Unknown.txt:19|Unknown.eml:53|x.zrp:10"},
    {"no_from.eml", "Unknown", "", "plain", "line one\r\nline two", "", ""},
    {"lf_only.eml", "lf@x.org", "lf", "lf", "body", "", "p.png:6"},
    {"long_base64.eml", "a@x.org", "a", "", "kept text", "", "big.pdf:0"},
    {"no_boundary.eml", "a@x.org", "a", "", "", "", ""},
};

TEST(MimeReader, MessagesFromFiles) {
    for (const MessageCase& c : kMessages) {
        SCOPED_TRACE(c.m_file);
        Parsed parsed = ParseFile(c.m_file);
        const CMimeMessage& m = parsed.m_message;
        EXPECT_EQ(m.m_strFrom, c.m_from);
        EXPECT_EQ(m.m_strFromName, c.m_fromName);
        EXPECT_EQ(m.m_strSubject, c.m_subject);
        EXPECT_EQ(m.m_strContent, c.m_content);
        EXPECT_EQ(m.HtmlContent(), c.m_html);
        EXPECT_EQ(AttachmentList(m), c.m_attachments);
    }
}

TEST(MimeReader, HeaderFieldsOfTheMessage) {
    const CMimeMessage m = ParseFile("qp_soft_break.eml").m_message;
    EXPECT_EQ(m.m_strTo, "a@x.org, ann@y.org, bob@z.org");
    EXPECT_EQ(m.m_strCc, "c@x.org");
    EXPECT_EQ(m.m_strPriority, "1");
    EXPECT_EQ(m.m_strXMailer, "Tester 1.0");
    EXPECT_EQ(m.m_strXLoop, "loop@x.org");
    // Every header line as stored, continuation lines included.
    EXPECT_EQ(m.m_strHeaders.find("From: \"John Doe\" <jd@x.org>\r\nTo: "), 0u);
    EXPECT_NE(m.m_strHeaders.find("Content-Transfer-Encoding: quoted-printable\r\n"),
              std::string::npos);
    EXPECT_EQ(m.m_strHeaders.find("Hello"), std::string::npos);

    const CMimeMessage alt = ParseFile("alternative.eml").m_message;
    EXPECT_NE(alt.m_strHeaders.find("multipart/alternative;\r\n\tboundary=\"alt-1\"\r\n"),
              std::string::npos);
    EXPECT_EQ(ParseFile("no_from.eml").m_message.m_strPriority, "2");
}

TEST(MimeReader, AttachmentBytes) {
    const CMimeMessage m = ParseFile("mixed.eml").m_message;
    ASSERT_EQ(m.m_attachments.size(), 4u);
    EXPECT_EQ(m.m_attachments[0].m_data, "Hello");
    EXPECT_EQ(m.m_attachments[1].m_data, "second plain part\r\n");
    // A forwarded message keeps its raw lines.
    EXPECT_EQ(m.m_attachments[2].m_data,
              "From: inner@x.org\r\nSubject: forwarded\r\n\r\ninner body\r\n");
    // The sender's path is cut off the name.
    EXPECT_EQ(m.m_attachments[3].m_strName, "x.zrp");
    EXPECT_EQ(m.m_attachments[3].m_data, "<!--{ }-->");
    EXPECT_EQ(ParseFile("lf_only.eml").m_message.m_attachments.at(0).m_data,
              std::string("\x89PNG\r\n"));
}

TEST(MimeReader, FailuresAreLoggedAndKeepWhatWasRead) {
    Parsed longLine = ParseFile("long_base64.eml");
    EXPECT_NE(longLine.m_log.find(DataFile("long_base64.eml") + " lines too long."),
              std::string::npos);
    EXPECT_EQ(longLine.m_message.m_strContent, "kept text");

    EXPECT_NE(ParseFile("no_boundary.eml").m_log.find("Multipart message without boundary"),
              std::string::npos);

    // Quoted-printable lines have the same limit.
    Parsed qp = ParseBytes("Content-Transfer-Encoding: quoted-printable\r\n\r\nfirst\r\n" +
                           std::string(81, 'q') + "\r\nlast\r\n");
    EXPECT_NE(qp.m_log.find(" lines too long."), std::string::npos);
    EXPECT_EQ(qp.m_message.m_strContent, "first\r\n");
}

TEST(MimeReader, AttachmentWithoutMemoryEndsOnlyItsWalk) {
    // Outer parts: the body, an inner multipart, a last file; the inner one
    // holds two attachments.
    const std::string bytes =
        "From: a@x.org\r\nContent-Type: multipart/mixed; boundary=o\r\n\r\n"
        "--o\r\nContent-Type: text/plain\r\n\r\nthe body\r\n"
        "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n"
        "--i\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "SGVsbG8=\r\n"
        "--i\r\nContent-Type: text/plain; name=\"second.txt\"\r\n\r\nsecond\r\n"
        "--i--\r\n"
        "--o\r\nContent-Type: text/plain; name=\"last.txt\"\r\n\r\nlast\r\n--o--\r\n";
    struct Case {
        int m_failingCall;  // which allocation fails; 0: none
        const char* m_attachments;
        const char* m_logged;
    };
    const Case cases[] = {
        {0, "Unknown.pdf:5|second.txt:8|last.txt:6", nullptr},
        // The inner walk ends; the outer one goes on with its next part.
        {1, "Unknown.pdf:0|last.txt:6", "Failed to allocate buffer for attachment Unknown.pdf"},
        {2, "Unknown.pdf:5|second.txt:0|last.txt:6",
         "Failed to allocate buffer for attachment second.txt"},
        {3, "Unknown.pdf:5|second.txt:8|last.txt:0",
         "Failed to allocate buffer for attachment last.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_failingCall);
        std::vector<size_t> asked;
        auto allocator = [&](std::string& block, size_t size) {
            asked.push_back(size);
            if (static_cast<int>(asked.size()) == c.m_failingCall) {
                throw std::bad_alloc();
            }
            block.reserve(size);
        };
        Parsed parsed;
        ASSERT_NO_THROW(parsed = ParseBytes(bytes, "msg.eml", allocator));
        EXPECT_EQ(parsed.m_message.m_strContent, "the body");
        EXPECT_EQ(parsed.m_message.m_strFrom, "a@x.org");
        EXPECT_EQ(AttachmentList(parsed.m_message), c.m_attachments);
        // Each block was asked for with room for all of its decoded bytes.
        const std::vector<CMailAttachment>& files = parsed.m_message.m_attachments;
        ASSERT_EQ(asked.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_LE(files[i].m_data.size(), asked[i]) << files[i].m_strName;
        }
        if (c.m_logged != nullptr) {
            EXPECT_NE(parsed.m_log.find(c.m_logged), std::string::npos) << parsed.m_log;
        } else {
            EXPECT_EQ(parsed.m_log.find("Failed to allocate"), std::string::npos);
        }
    }
}

TEST(MimeReader, NameRulesForAttachments) {
    struct Case {
        const char* m_partHeader;
        const char* m_name;
    };
    const Case cases[] = {
        {"Content-Type: application/pdf; name=\"../../etc/passwd\"", "passwd"},
        {"Content-Type: application/pdf; name=\"C:\\\\dir\\\\r.pdf\"", "r.pdf"},
        {"Content-Type: application/pdf; name=\"..\"", "_"},
        {"Content-Type: application/pdf; name=\"a/.\"", "_"},
        {"Content-Type: application/pdf", "Unknown.pdf"},
        {"Content-Type: application/x-never-heard-of", "Unknown"},
        {"Content-Type: message/rfc822", "Unknown.eml"},
        // Unquoted values end at ';' or a blank.
        {"Content-Type: image/gif; name=pic.gif; x=1", "pic.gif"},
        {"Content-Disposition: attachment; filename=doc.txt (copy)", "doc.txt"},
        // A later header replaces the name even when it carries none.
        {"Content-Disposition: attachment; filename=a.bin\r\nContent-Type: image/gif",
         "Unknown.gif"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_partHeader);
        std::string bytes =
            "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
            "Content-Type: text/plain\r\n\r\nbody\r\n--b\r\n" +
            std::string(c.m_partHeader) + "\r\n\r\ndata\r\n--b--\r\n";
        const CMimeMessage m = ParseBytes(bytes).m_message;
        ASSERT_EQ(m.m_attachments.size(), 1u);
        EXPECT_EQ(m.m_attachments[0].m_strName, c.m_name);
        EXPECT_EQ(m.m_attachments[0].m_data, "data\r\n");
    }
}

TEST(MimeReader, HtmlBodyTags) {
    struct Case {
        const char* m_html;
        const char* m_content;
    };
    const Case cases[] = {
        {"<HTML><BODY bgcolor=white>\r\n<b>x</b>\r\n</BODY></HTML>", "\r\n<b>x</b>\r\n"},
        {"<body>only open", "only open"},
        {"<p>no tags</p>", "<p>no tags</p>"},
        // <bodyx> is not a body tag.
        {"<bodyx>a<body>b</body>", "b"},
        // A closing tag before the opening one never gives a negative length.
        {"</body><body>tail", "tail"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_html);
        const CMimeMessage m =
            ParseBytes("Content-Type: text/html\r\n\r\n" + std::string(c.m_html) + "\r\n")
                .m_message;
        EXPECT_EQ(m.HtmlContent(), c.m_content);
        EXPECT_EQ(m.m_strContent, "");
    }
}

TEST(MimeReader, DeepNestingBecomesAnAttachment) {
    const int levels = 40;
    std::string bytes;
    for (int i = 0; i < levels; ++i) {
        bytes += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) +
                 "\"\r\n\r\n--b" + std::to_string(i) + "\r\n";
    }
    bytes += "Content-Type: text/plain\r\n\r\ndeep\r\n";
    for (int i = levels - 1; i >= 0; --i) {
        bytes += "--b" + std::to_string(i) + "--\r\n";
    }
    const CMimeMessage m = ParseBytes(bytes).m_message;
    // The text lies below the walked levels: it is kept inside the attachment.
    EXPECT_EQ(m.m_strContent, "");
    ASSERT_EQ(m.m_attachments.size(), 1u);
    EXPECT_NE(m.m_attachments[0].m_data.find("deep\r\n"), std::string::npos);

    // Within the limit the text is found.
    const CMimeMessage shallow =
        ParseBytes(
            "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
            "Content-Type: multipart/related; boundary=i\r\n\r\n--i\r\n\r\nfound\r\n--i--\r\n"
            "--o--\r\n")
            .m_message;
    EXPECT_EQ(shallow.m_strContent, "found");
}

TEST(MimeReader, OddBytesAreSafe) {
    static const char kNulBytes[] = "From: a\0b@x.org\r\n\r\nbo\0dy";
    const std::string inputs[] = {
        "",
        "\n",
        "\r",
        "Subject: no end",
        "From:",
        "Subject: =?iso-8859-1?Q?never closed",
        "Content-Type: multipart/mixed; boundary=\"\"\r\n\r\n",
        "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD",
        std::string(kNulBytes, sizeof kNulBytes - 1),
        "Content-Type: multipart/mixed; boundary=q\n\n--q\n--q\n--q--",
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        Parsed parsed = ParseBytes(input);
        EXPECT_FALSE(parsed.m_message.m_strFrom.empty());
    }
    // A last line without a line end is still read.
    EXPECT_EQ(ParseBytes("Content-Transfer-Encoding: base64\r\n\r\nQUJD").m_message.m_strContent,
              "ABC");
}

}  // namespace
