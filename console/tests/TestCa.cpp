#include "console/tests/TestCa.h"

#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

int RunOpenssl(const std::vector<std::string>& arguments, std::string* output) {
    CTempFolder temp;
    std::vector<std::string> argv = {"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CChildOptions options;
    options.m_searchPath = true;
    options.m_stdin = CChildStream::Null();
    options.m_stdout = CChildStream::Truncate(temp.File("out"));
    options.m_stderr = CChildStream::Truncate(temp.File("out"));
    const int code = CChildProcess::Run(argv, options);
    if (output != nullptr) {
        *output = ReadFile(temp.File("out"));
    }
    return code;
}

CTestCa::CTestCa(std::string folder) : m_folder(std::move(folder)) {
    m_ready = RunOpenssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                          m_folder + "/ca.key", "-out", m_folder + "/ca.pem", "-subj",
                          "/CN=Velmorin Test CA", "-days", "30"}) == 0;
}

std::string CTestCa::Sign(const std::string& request, const std::string& serial, EForm form) const {
    const std::string pem = m_folder + "/signed-" + serial + ".pem";
    if (RunOpenssl({"x509", "-req", "-in", request, "-CA", m_folder + "/ca.pem", "-CAkey",
                    m_folder + "/ca.key", "-set_serial", "0x" + serial, "-days", "30",
                    "-copy_extensions", "copy", "-out", pem}) != 0) {
        return std::string();
    }
    switch (form) {
        case EForm::kPem:
            return pem;
        case EForm::kDer: {
            const std::string der = m_folder + "/signed-" + serial + ".cer";
            return RunOpenssl({"x509", "-in", pem, "-outform", "DER", "-out", der}) == 0
                       ? der
                       : std::string();
        }
        case EForm::kPkcs7: {
            const std::string p7 = m_folder + "/signed-" + serial + ".p7b";
            return RunOpenssl({"crl2pkcs7", "-nocrl", "-certfile", pem, "-certfile",
                               m_folder + "/ca.pem", "-out", p7}) == 0
                       ? p7
                       : std::string();
        }
    }
    return std::string();
}

bool CTestCa::SelfSigned(const std::string& folder, const std::string& name,
                         const std::string& commonName, const std::string& serial) {
    const std::string key = folder + "/" + name + ".keytmp";
    const std::string cert = folder + "/" + name + ".certtmp";
    if (RunOpenssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-subj", "/CN=" + commonName, "-set_serial", "0x" + serial, "-days", "30"}) !=
        0) {
        return false;
    }
    const bool written = WriteFile(folder + "/" + name + ".pem", ReadFile(cert) + ReadFile(key));
    return written && ::remove(key.c_str()) == 0 && ::remove(cert.c_str()) == 0;
}
