// The certificate request the console writes and the installation of what an authority sends
// back, checked with the openssl program.
#include "console/CertRequest.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "console/CertInstall.h"
#include "console/Countries.h"
#include "console/tests/TestCa.h"
#include "engine/foundation/CertificateInfo.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

CCertRequestFields Fields(const CTempFolder& root) {
    CCertRequestFields fields;
    fields.m_commonName = "host.example";
    fields.m_organization = "Acme, Inc.";
    fields.m_countryCode = "US";
    fields.m_outputFile = root.File("cert_req.txt");
    return fields;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

TEST(CertificateRequest, AFramedRequestForServerAuthentication) {
    const struct {
        const char* country;
        const char* subjectPart;
    } cases[] = {{"United States", "C = US"}, {"United Kingdom", "C = GB"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.country);
        CTempFolder root;
        CCertRequestFields fields = Fields(root);
        fields.m_countryCode = CountryCode(c.country);
        std::string message;
        ASSERT_TRUE(CreateCertificateRequest(root.Path(), fields, message)) << message;
        EXPECT_EQ(
            message.rfind(fields.m_outputFile + " created. Please send this file to a CA.", 0), 0u)
            << message;
        const std::string text = ReadFile(fields.m_outputFile);
        EXPECT_EQ(text.rfind("-----BEGIN CERTIFICATE REQUEST-----\r\n", 0), 0u);
        EXPECT_TRUE(text.ends_with("\r\n-----END CERTIFICATE REQUEST-----\r\n"));
        EXPECT_EQ(Count(text, "-----BEGIN"), 1u);
        EXPECT_EQ(Count(text, "\n"), Count(text, "\r\n"));

        std::string shown;
        EXPECT_EQ(
            RunOpenssl({"req", "-verify", "-noout", "-text", "-in", fields.m_outputFile}, &shown),
            0)
            << shown;
        EXPECT_NE(shown.find("Public-Key: (2048 bit)"), std::string::npos) << shown;
        EXPECT_NE(shown.find("TLS Web Server Authentication"), std::string::npos) << shown;
        EXPECT_NE(shown.find(c.subjectPart), std::string::npos) << shown;
        // The organisation keeps its comma; the empty parts are left out.
        EXPECT_NE(shown.find("O = \"Acme, Inc.\""), std::string::npos) << shown;
        EXPECT_EQ(shown.find("OU ="), std::string::npos) << shown;
        EXPECT_EQ(shown.find("L ="), std::string::npos) << shown;

        const std::vector<std::string> keys = ListFolder(PendingKeyFolder(root.Path()));
        ASSERT_EQ(keys.size(), 1u);
        struct stat info {};
        ASSERT_EQ(::stat((PendingKeyFolder(root.Path()) + "/" + keys[0]).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(CountryCode("Atlantis"), "");
}

TEST(CertificateRequest, AnUnwritableFileIsAFailureWithoutAFrame) {
    CTempFolder root;
    CCertRequestFields fields = Fields(root);
    fields.m_outputFile = root.File("missing/folder/req.txt");
    std::string message;
    EXPECT_FALSE(CreateCertificateRequest(root.Path(), fields, message));
    EXPECT_EQ(message.rfind("Failed to createFilePKCS10 - ", 0), 0u) << message;
    EXPECT_FALSE(Exists(fields.m_outputFile));
    EXPECT_TRUE(ListFolder(PendingKeyFolder(root.Path())).empty());
}

TEST(CertificateInstall, EachFormOfTheAnswerInstallsWithItsKey) {
    for (const auto form : {CTestCa::EForm::kPem, CTestCa::EForm::kDer, CTestCa::EForm::kPkcs7}) {
        SCOPED_TRACE(static_cast<int>(form));
        CTempFolder root;
        CTempFolder ca;
        CTestCa authority(ca.Path());
        ASSERT_TRUE(authority.Ready());
        std::string message;
        ASSERT_TRUE(CreateCertificateRequest(root.Path(), Fields(root), message)) << message;
        const std::string answer = authority.Sign(root.File("cert_req.txt"), "0102", form);
        ASSERT_FALSE(answer.empty());
        ASSERT_TRUE(InstallCertificate(root.Path(), answer, message)) << message;
        EXPECT_EQ(message, "Accepted PKCS7 from file successfully");
        EXPECT_TRUE(ListFolder(PendingKeyFolder(root.Path())).empty());

        std::vector<CCertificateInfo> listed;
        ASSERT_TRUE(ListCertificates(CertificateFolderOf(root.Path()), listed));
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].m_name, "host.example");
        EXPECT_EQ(listed[0].m_issuer, "Velmorin Test CA");
        EXPECT_EQ(listed[0].m_serial, "0102");
        const std::string key = FindPrivateKeyFile(listed[0].m_file);
        ASSERT_FALSE(key.empty());
        struct stat info {};
        ASSERT_EQ(::stat(key.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(ReadFile(key).find("ENCRYPTED"), std::string::npos);
        // The chain comes along when the answer carries it.
        const size_t certs = Count(ReadFile(listed[0].m_file), "BEGIN CERTIFICATE-----");
        EXPECT_EQ(certs, form == CTestCa::EForm::kPkcs7 ? 2u : 1u);
    }
}

TEST(CertificateInstall, ACertificateForNoPendingKeyIsRefused) {
    CTempFolder root;
    CTempFolder other;
    std::string message;
    ASSERT_TRUE(CreateCertificateRequest(root.Path(), Fields(root), message)) << message;
    ASSERT_TRUE(CTestCa::SelfSigned(other.Path(), "foreign", "host.example", "0A"));
    EXPECT_FALSE(InstallCertificate(root.Path(), other.File("foreign.pem"), message));
    EXPECT_EQ(message.rfind("Failed to acceptFilePKCS7 - ", 0), 0u) << message;
    EXPECT_NE(message.find("\nProbably the certificate request was not generated on this\n"
                           "computer, or the certificate has already been installed"),
              std::string::npos)
        << message;
    EXPECT_EQ(ListFolder(PendingKeyFolder(root.Path())).size(), 1u);
    // Not a certificate at all.
    WriteFile(other.File("junk.cer"), "not a certificate");
    EXPECT_FALSE(InstallCertificate(root.Path(), other.File("junk.cer"), message));
    EXPECT_EQ(message.rfind("Failed to acceptFilePKCS7 - ", 0), 0u) << message;
}

TEST(CertificateInstall, ASixteenByteSerialShowsEightGroups) {
    CTempFolder root;
    std::filesystem::create_directories(CertificateFolderOf(root.Path()));
    ASSERT_TRUE(CTestCa::SelfSigned(CertificateFolderOf(root.Path()), "long", "long.example",
                                    "0102030405060708090A0B0C0D0E0F10"));
    std::vector<CCertificateInfo> listed;
    ASSERT_TRUE(ListCertificates(CertificateFolderOf(root.Path()), listed));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].m_serial, "0102 0304 0506 0708 090A 0B0C 0D0E 0F10");
}
