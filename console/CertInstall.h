// Installs the certificate a certificate authority sent for one of this machine's pending
// requests: a PEM or DER certificate, or a PKCS #7 file with the certificate and its chain.
// The certificate that matches a pending key is stored with its chain in certs/, its key
// beside it (mode 0600, unencrypted), where the server reads them.
#pragma once

#include <string>

// `message` gets the text for the user either way.
bool InstallCertificate(const std::string& root, const std::string& file, std::string& message);
