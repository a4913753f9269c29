// Server certificates as the server and the console see them: the PEM files of
// the certificate folder (certs/ under the root), each certificate known by the
// display names of its subject and issuer and by its serial text. The server
// picks its certificate by these three texts and the console stores them, so
// both compute them here.
//
// A certificate file is a regular file of the folder whose name ends in ".pem",
// ".crt" or ".cer" (any case). Its first PEM certificate is the certificate;
// any further ones are its chain. Its private key is a PEM key block in the
// same file or, failing that, the file of the same name with ".key" in place
// of the extension.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Display names are the simple ones: the first common name, else organisational
// unit, else organisation, else e-mail address attribute, else the e-mail
// address among the alternative names, else the first attribute of any kind;
// as UTF-8 bytes, "" for an empty name.
// The certificate folder of an installation root: root + "/certs".
std::string CertificateFolderOf(const std::string& root);

struct CCertificateInfo {
    std::string m_name;          // display name of the subject
    std::string m_issuer;        // display name of the issuer
    std::string m_serial;        // serial text (FormatSerialText)
    std::time_t m_notAfter = 0;  // end of validity, seconds since 1970 UTC; 0 when unreadable
    std::string m_file;          // the file it was read from; empty when not from a file
};

// The serial text of serial-number bytes given most significant first: "%02X"
// per byte with a blank after every second byte, trimmed ("0504 0302 01").
std::string FormatSerialText(std::span<const unsigned char> bytes);

// Name, issuer, serial (the content bytes of the DER serial, so a leading 00
// that marks a positive number stays) and end of validity of cert. Returns
// false, after logging "Failed to get certificate subject" or "Failed to get
// certificate issuer", when a name cannot be read.
bool ReadCertificateInfo(const X509* cert, CCertificateInfo& info);

// Every certificate file of folder into list, in the byte order of the file
// names. Files that hold no readable certificate are passed over. The listing
// stops (keeping what it has) at a certificate whose names cannot be read, as
// ReadCertificateInfo logs. A folder that cannot be read logs "Error 0x%x
// returned by CertOpenSystemStore" with the errno and gives false.
bool ListCertificates(const std::string& folder, std::vector<CCertificateInfo>& list);

// The first certificate of list whose name equals subject ignoring ASCII case,
// whose issuer equals issuer exactly and whose serial text equals serial
// exactly; nullopt when none does.
std::optional<CCertificateInfo> FindServerCertificate(const std::vector<CCertificateInfo>& list,
                                                      const std::string& subject,
                                                      const std::string& issuer,
                                                      const std::string& serial);

// The file that holds the private key of the certificate read from certFile:
// certFile itself when it carries a key block, else the ".key" file beside it
// when that exists; empty when neither has one.
std::string FindPrivateKeyFile(const std::string& certFile);
