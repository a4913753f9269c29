// The certificate request the console writes for a certificate authority: a new RSA key kept
// in certs/pending/ (mode 0600) until the certificate comes back, and a PKCS #10 request for
// server authentication signed with SHA-256, written framed by its BEGIN and END lines.
#pragma once

#include <string>

struct CCertRequestFields {
    std::string m_commonName;
    int m_keyBits = 2048;
    std::string m_organization;
    std::string m_unit;
    std::string m_countryCode;  // two letters, upper case
    std::string m_state;
    std::string m_city;
    std::string m_outputFile;
};

// The folder that keeps the keys of requests not yet answered.
std::string PendingKeyFolder(const std::string& root);

// Writes the request; `message` gets the text for the user either way.
bool CreateCertificateRequest(const std::string& root, const CCertRequestFields& fields,
                              std::string& message);
