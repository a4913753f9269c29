// A certificate authority of a test's own, made and used with the openssl program: it signs
// the console's requests and makes certificates nobody requested.
#pragma once

#include <string>
#include <vector>

// Runs openssl with the arguments; its exit code. `output` gets what it printed.
int RunOpenssl(const std::vector<std::string>& arguments, std::string* output = nullptr);

class CTestCa {
public:
    enum class EForm { kPem, kDer, kPkcs7 };

    // Makes the authority's key and certificate in the folder.
    explicit CTestCa(std::string folder);
    bool Ready() const { return m_ready; }

    // Signs the request file with the serial (hex digits) into a file of the form; empty
    // when openssl failed.
    std::string Sign(const std::string& request, const std::string& serial, EForm form) const;

    // A self-signed certificate for `commonName` with a key of its own, written as
    // <folder>/<name>.pem (key included); false when openssl failed.
    static bool SelfSigned(const std::string& folder, const std::string& name,
                           const std::string& commonName, const std::string& serial);

private:
    std::string m_folder;
    bool m_ready = false;
};
