#include "engine/testsupport/DovecotServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/WholeFile.h"

CDovecotServer::CDovecotServer() {
    const std::string& root = m_folder.Path();
    // dovecot's own users read the passwd-file and the folders.
    chmod(root.c_str(), 0755);
    m_maildir = root + "/home/Maildir";
    std::filesystem::create_directories(m_maildir + "/new");
    std::filesystem::create_directories(m_maildir + "/cur");
    std::filesystem::create_directories(m_maildir + "/tmp");
    std::filesystem::create_directories(root + "/run");
    std::filesystem::create_directories(root + "/state");
}

CDovecotServer::~CDovecotServer() {
    if (m_dovecot.Started()) {
        m_dovecot.Stop(SIGTERM);
        // The master's children leave on their own once it is gone.
        for (int i = 0; i < 50 && LoopbackAccepts(m_port); ++i) {
            usleep(20000);
        }
    }
}

void CDovecotServer::AddMessage(const std::string& bytes) {
    WriteFile(m_maildir + "/new/" + std::to_string(1000 + m_nextName++) + ".test", bytes);
}

bool CDovecotServer::Start() {
    const std::string& root = m_folder.Path();
    m_port = FreeLoopbackPort();
    // The mail account runs as nobody: dovecot refuses mail access as root.
    WriteFile(root + "/passwd", "tu:{PLAIN}secret:65534:65534::" + root + "/home::\n");
    chmod((root + "/passwd").c_str(), 0644);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/home")) {
        lchown(entry.path().c_str(), 65534, 65534);
    }
    chown((root + "/home").c_str(), 65534, 65534);
    std::string conf =
        "base_dir = " + root + "/run\n" + "state_dir = " + root + "/state\n" +
        "log_path = " + root + "/dovecot.log\n" + "instance_name = velmorin-pop3-test-" +
        std::to_string(m_port) + "\n" +
        "protocols = pop3\n"
        "listen = 127.0.0.1\n"
        "ssl = no\n"
        "disable_plaintext_auth = no\n"
        "auth_failure_delay = 0\n"
        "mail_location = maildir:" +
        m_maildir + "\n" +
        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + root +
        "/passwd\n}\n" + "userdb {\n  driver = passwd-file\n  args = username_format=%u " + root +
        "/passwd\n}\n" +
        "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n"
        "    port = " +
        std::to_string(m_port) + "\n  }\n}\n" + "service anvil {\n  chroot =\n}\n";
    WriteFile(root + "/dovecot.conf", conf);

    std::string confPath = root + "/dovecot.conf";
    m_dovecot = CChildProcess({"/usr/sbin/dovecot", "-F", "-c", confPath});
    if (!m_dovecot.Started()) {
        return false;
    }
    for (int i = 0; i < 250; ++i) {
        if (LoopbackAccepts(m_port)) {
            return true;
        }
        usleep(20000);
    }
    return false;
}

int CDovecotServer::MessageCount() const {
    int count = 0;
    for (const char* sub : {"/new", "/cur"}) {
        for (const auto& entry : std::filesystem::directory_iterator(m_maildir + sub)) {
            count += entry.is_regular_file() ? 1 : 0;
        }
    }
    return count;
}

std::string CDovecotServer::LogText() const {
    return ReadFile(m_folder.File("dovecot.log"));
}
