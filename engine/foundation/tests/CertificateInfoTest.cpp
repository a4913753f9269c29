#include "engine/foundation/CertificateInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/tests/SslTestPki.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct SerialCase {
    Bytes bytes;
    std::string text;
};

void PrintTo(const SerialCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.text);
}

class SerialTextTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialTextTest, GroupsBytesInPairs) {
    EXPECT_EQ(FormatSerialText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, SerialTextTest,
    ::testing::Values(SerialCase{{}, ""}, SerialCase{{0x7F}, "7F"},
                      SerialCase{{0x01, 0x02}, "0102"},
                      SerialCase{{0x05, 0x04, 0x03, 0x02, 0x01}, "0504 0302 01"},
                      SerialCase{{0x00, 0xAB, 0xCD}, "00AB CD"},
                      SerialCase{{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A,
                                  0x1B, 0x1C, 0x1D, 0x1E, 0x1F},
                                 "1011 1213 1415 1617 1819 1A1B 1C1D 1E1F"}));

struct NameCase {
    const char* label;
    CTestCert::Name subject;
    std::string altEmail;
    Bytes serial;
    std::string name;
    std::string serialText;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.label;
}

class CertificateNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(CertificateNameTest, ReadsDisplayNameAndSerial) {
    const NameCase& c = GetParam();
    CTestCert ca({{"O", "Tormalek"}, {"CN", "Velmorin Test CA"}}, {0x01});
    CTestCert cert(c.subject, c.serial, &ca, "20391231235959Z", c.altEmail);
    CCertificateInfo info;
    ASSERT_TRUE(ReadCertificateInfo(cert.Cert(), info));
    EXPECT_EQ(info.m_name, c.name);
    EXPECT_EQ(info.m_issuer, "Velmorin Test CA");
    EXPECT_EQ(info.m_serial, c.serialText);
    std::tm end{};
    end.tm_year = 2039 - 1900;
    end.tm_mon = 11;
    end.tm_mday = 31;
    end.tm_hour = 23;
    end.tm_min = 59;
    end.tm_sec = 59;
    EXPECT_EQ(info.m_notAfter, timegm(&end));
    EXPECT_TRUE(info.m_file.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Subjects, CertificateNameTest,
    ::testing::Values(
        NameCase{"CommonNameFirst",
                 {{"C", "DE"}, {"O", "Org"}, {"OU", "Unit"}, {"CN", "www.example.test"}},
                 "",
                 {0x01, 0x02},
                 "www.example.test",
                 "0102"},
        NameCase{"UnitWithoutCommonName", {{"O", "Org"}, {"OU", "Unit"}}, "", {0x03}, "Unit", "03"},
        NameCase{"OrganisationNext", {{"C", "DE"}, {"O", "Org"}}, "", {0x03}, "Org", "03"},
        NameCase{"EmailAttributeNext",
                 {{"C", "DE"}, {"emailAddress", "admin@example.test"}},
                 "",
                 {0x03},
                 "admin@example.test",
                 "03"},
        NameCase{"AltNameEmailBeforeOtherAttributes",
                 {{"C", "DE"}, {"L", "Town"}},
                 "alt@example.test",
                 {0x03},
                 "alt@example.test",
                 "03"},
        NameCase{"FirstAttributeLast", {{"L", "Town"}, {"C", "DE"}}, "", {0x03}, "Town", "03"},
        NameCase{"EightBitBytesKept", {{"CN", "M\xC3\xBCller"}}, "", {0x03}, "M\xC3\xBCller", "03"},
        // A serial whose top bit is set is encoded with a leading 00, which stays.
        NameCase{"LeadingZeroOfSerialKept", {{"CN", "a"}}, "", {0x80, 0x01}, "a", "0080 01"},
        NameCase{"LongSerial",
                 {{"CN", "a"}},
                 "",
                 {0x7F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,
                  0x0D, 0x0E, 0x0F},
                 "a",
                 "7F01 0203 0405 0607 0809 0A0B 0C0D 0E0F"}),
    [](const auto& p) { return std::string(p.param.label); });

class CertificateFolderTest : public ::testing::Test {
protected:
    void SetUp() override { m_log = std::make_unique<CCapturedLog>(g_log); }
    void TearDown() override { g_log.SetFolder(""); }

    void Add(const std::string& name, const CTestCert& cert, bool withKey = false) {
        WriteTextFile(m_folder.File(name), cert.CertPem() + (withKey ? cert.KeyPem() : ""));
    }

    std::unique_ptr<CCapturedLog> m_log;
    CTempFolder m_folder;
    CTestCert m_ca{{{"CN", "Velmorin Test CA"}}, {0x01}};
};

TEST_F(CertificateFolderTest, ListsCertificateFilesInNameOrder) {
    CTestCert a({{"CN", "a.test"}}, {0x0A}, &m_ca);
    CTestCert b({{"CN", "b.test"}}, {0x0B}, &m_ca);
    CTestCert c({{"CN", "c.test"}}, {0x0C}, &m_ca);
    Add("b.pem", b, true);
    Add("a.crt", a);
    Add("c.CER", c);
    Add("notes.txt", a);
    WriteTextFile(m_folder.File("key-only.pem"), a.KeyPem());
    WriteTextFile(m_folder.File("junk.pem"), "-----BEGIN CERTIFICATE-----\nnot base64\n");
    std::filesystem::create_directory(m_folder.File("folder.pem"));

    std::vector<CCertificateInfo> list;
    ASSERT_TRUE(ListCertificates(m_folder.Path(), list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].m_name, "a.test");
    EXPECT_EQ(list[0].m_file, m_folder.File("a.crt"));
    EXPECT_EQ(list[1].m_name, "b.test");
    EXPECT_EQ(list[2].m_name, "c.test");
    EXPECT_EQ(list[2].m_serial, "0C");
    EXPECT_TRUE(m_log->Lines().empty());
}

TEST_F(CertificateFolderTest, MissingFolderFailsToOpen) {
    std::vector<CCertificateInfo> list(1);
    EXPECT_FALSE(ListCertificates(m_folder.File("absent"), list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(m_log->HasLine("Error 0x2 returned by CertOpenSystemStore"));
}

struct FindCase {
    const char* label;
    std::string subject;
    std::string issuer;
    std::string serial;
    std::string file;  // empty: no match
};

void PrintTo(const FindCase& c, std::ostream* os) {
    *os << c.label;
}

class FindCertificateTest : public CertificateFolderTest,
                            public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindCertificateTest, MatchesSubjectAnyCaseIssuerAndSerialExactly) {
    CTestCert one({{"CN", "Www.Example.Test"}}, {0x01, 0x02}, &m_ca);
    CTestCert two({{"CN", "www.example.test"}}, {0x0A, 0x0B}, &m_ca);
    CTestCert three({{"CN", "www.example.test"}}, {0x01, 0x02}, &m_ca);
    Add("1.pem", one);
    Add("2.pem", two);
    Add("3.pem", three);  // same texts as 1.pem: the first listed wins

    const FindCase& c = GetParam();
    std::vector<CCertificateInfo> list;
    ASSERT_TRUE(ListCertificates(m_folder.Path(), list));
    std::optional<CCertificateInfo> found =
        FindServerCertificate(list, c.subject, c.issuer, c.serial);
    if (c.file.empty()) {
        EXPECT_FALSE(found.has_value());
    } else {
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->m_file, m_folder.File(c.file));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FindCertificateTest,
    ::testing::Values(
        FindCase{"Exact", "Www.Example.Test", "Velmorin Test CA", "0102", "1.pem"},
        FindCase{"SubjectInOtherCase", "WWW.EXAMPLE.TEST", "Velmorin Test CA", "0102", "1.pem"},
        FindCase{"SerialPicksTheOther", "www.example.test", "Velmorin Test CA", "0A0B", "2.pem"},
        FindCase{"IssuerCaseMatters", "www.example.test", "velmorin test ca", "0102", ""},
        FindCase{"SerialCaseMatters", "www.example.test", "Velmorin Test CA", "0a0b", ""},
        FindCase{"SerialSpacingMatters", "www.example.test", "Velmorin Test CA", "01 02", ""},
        FindCase{"OtherSubject", "mail.example.test", "Velmorin Test CA", "0102", ""},
        FindCase{"EmptyTexts", "", "", "", ""}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(CertificateFolderTest, FindsTheKeyInTheFileOrBesideIt) {
    CTestCert cert({{"CN", "k.test"}}, {0x01}, &m_ca);
    Add("inside.pem", cert, true);
    Add("beside.pem", cert);
    WriteTextFile(m_folder.File("beside.key"), cert.KeyPem());
    Add("none.pem", cert);

    EXPECT_EQ(FindPrivateKeyFile(m_folder.File("inside.pem")), m_folder.File("inside.pem"));
    EXPECT_EQ(FindPrivateKeyFile(m_folder.File("beside.pem")), m_folder.File("beside.key"));
    EXPECT_EQ(FindPrivateKeyFile(m_folder.File("none.pem")), "");
}

}  // namespace
