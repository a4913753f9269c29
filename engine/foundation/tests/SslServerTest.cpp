#include "engine/foundation/SslServer.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/CertificateInfo.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/tests/LineCount.h"
#include "engine/foundation/tests/SslTestPki.h"

namespace {

const char kHint[] =
    "\r\nYou should type https://..., not http://... in your browser to access this secure web "
    "server.";
const char kAcceptFailed[] = "Accept Security Context Failed with error code ";

// The request every exchange starts with, and a body of several records.
const std::string kRequest = "GET /index.zrp HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";

std::string Body(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    }
    return body;
}

class SslServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_log = std::make_unique<CCapturedLog>(g_log);
        // The certificate, its key and its chain in one file.
        WriteTextFile(m_folder.File("server.pem"),
                      m_cert.CertPem() + m_cert.KeyPem() + m_ca.CertPem());
        ASSERT_TRUE(m_ssl.AcquireCredentials(m_folder.Path(), "www.example.test",
                                             "Velmorin Test CA", "0080 01"));
        ASSERT_TRUE(m_listener.Listen("127.0.0.1", 0));
        m_port = m_listener.GetLocalPort();
    }
    void TearDown() override { g_log.SetFolder(""); }

    // Runs client on its own thread against one accepted connection under TLS,
    // which serve uses; the connection is closed (close notify) after serve.
    void Exchange(const std::function<void(CSocketConn&)>& serve,
                  const std::function<void(int port)>& client, int timeout = 10) {
        std::thread peer(client, m_port);
        CSocketConn conn;
        if (m_listener.Accept(conn)) {
            EXPECT_TRUE(m_ssl.Attach(conn));
            EXPECT_TRUE(conn.IsSslOn());
            conn.SetTimeout(timeout);
            serve(conn);
            conn.Close();
        } else {
            ADD_FAILURE() << "no connection";
        }
        peer.join();
    }

    std::unique_ptr<CCapturedLog> m_log;
    CTempFolder m_folder;
    CTestCert m_ca{{{"CN", "Velmorin Test CA"}}, {0x01}};
    CTestCert m_cert{{{"O", "Tormalek"}, {"CN", "www.example.test"}}, {0x80, 0x01}, &m_ca};
    CSslServer m_ssl;
    CSocketConn m_listener;
    int m_port = 0;
};

struct TripCase {
    const char* label;
    int version;
    size_t dripBytes;
};

void PrintTo(const TripCase& c, std::ostream* os) {
    *os << c.label;
}

class SslRoundTripTest : public SslServerTest, public ::testing::WithParamInterface<TripCase> {};

TEST_P(SslRoundTripTest, BytesCrossBothWays) {
    const TripCase& c = GetParam();
    const std::string body = Body(100000);
    const std::string fileBody = Body(70000).substr(1000);
    std::string path = m_folder.File("static.bin");
    WriteTextFile(path, Body(70000));

    std::string received;
    bool notified = false;
    std::string protocol;
    int chain = 0;
    Exchange(
        [&](CSocketConn& conn) {
            char line[4096];
            EXPECT_EQ(ReadLineCount(conn, line, sizeof line), 23);
            EXPECT_STREQ(line, "GET /index.zrp HTTP/1.0");
            EXPECT_EQ(ReadLineCount(conn, line, sizeof line), 15);
            EXPECT_EQ(ReadLineCount(conn, line, sizeof line), 0);
            EXPECT_TRUE(conn.Send(body));
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_TRUE(conn.SendFile("head|", fd, 1000, fileBody.size()));
            close(fd);
        },
        [&](int port) {
            CTestTlsClient client;
            CTestTlsClient::Options options;
            options.minVersion = options.maxVersion = c.version;
            options.dripBytes = c.dripBytes;
            if (!client.Connect(port, options)) {
                ADD_FAILURE() << "handshake failed: " << ERR_error_string(client.Error(), nullptr);
                return;
            }
            protocol = client.Protocol();
            chain = client.PeerChainLength();
            EXPECT_TRUE(client.Write(kRequest));
            notified = client.ReadToEnd(&received);
        });
    EXPECT_EQ(protocol, c.version == TLS1_3_VERSION ? "TLSv1.3" : "TLSv1.2");
    EXPECT_EQ(chain, 2);
    EXPECT_TRUE(received == body + "head|" + fileBody) << received.size() << " bytes arrived";
    EXPECT_TRUE(notified) << "no close notify";
    EXPECT_FALSE(m_log->HasPrefix(kAcceptFailed));
}

INSTANTIATE_TEST_SUITE_P(Clients, SslRoundTripTest,
                         ::testing::Values(TripCase{"Tls12", TLS1_2_VERSION, 0},
                                           TripCase{"Tls13", TLS1_3_VERSION, 0},
                                           // Records cut across many small segments.
                                           TripCase{"Tls12Dripped", TLS1_2_VERSION, 3},
                                           TripCase{"Tls13Dripped", TLS1_3_VERSION, 3}),
                         [](const auto& p) { return std::string(p.param.label); });

class SslOldProtocolTest : public SslServerTest, public ::testing::WithParamInterface<int> {};

TEST_P(SslOldProtocolTest, IsRefusedByTheServer) {
    unsigned long clientError = 0;
    bool connected = true;
    long read = 0;
    Exchange(
        [&](CSocketConn& conn) {
            char buffer[16];
            read = conn.Receive(buffer, sizeof buffer);
        },
        [&](int port) {
            CTestTlsClient client;
            CTestTlsClient::Options options;
            options.minVersion = options.maxVersion = GetParam();
            connected = client.Connect(port, options);
            clientError = client.Error();
        });
    EXPECT_FALSE(connected);
    EXPECT_EQ(read, -1);
    // The server's alert, not the client's own refusal to offer the protocol.
    EXPECT_EQ(ERR_GET_REASON(clientError), SSL_R_TLSV1_ALERT_PROTOCOL_VERSION)
        << ERR_error_string(clientError, nullptr);
    EXPECT_TRUE(m_log->HasPrefix(kAcceptFailed));
}

INSTANTIATE_TEST_SUITE_P(Versions, SslOldProtocolTest,
                         ::testing::Values(TLS1_VERSION, TLS1_1_VERSION), [](const auto& p) {
                             return std::string(p.param == TLS1_VERSION ? "Tls10" : "Tls11");
                         });

struct CipherCase {
    const char* label;
    CTestCert::KeyType keyType;
    const char* clientCipher;  // the one TLS 1.2 suite the client offers
    bool accepted;
};

class SslCipherTest : public SslServerTest, public ::testing::WithParamInterface<CipherCase> {};

TEST_P(SslCipherTest, Tls12TakesOnlyEcdheWithAead) {
    const CipherCase& c = GetParam();
    // The key type decides between the ECDSA and the RSA suites.
    CTempFolder folder;
    CTestCert cert({{"CN", "key.example.test"}}, {0x03}, nullptr, "20391231235959Z", "", c.keyType);
    WriteTextFile(folder.File("server.pem"), cert.CertPem() + cert.KeyPem());
    ASSERT_TRUE(
        m_ssl.AcquireCredentials(folder.Path(), "key.example.test", "key.example.test", "03"));

    bool connected = false;
    unsigned long clientError = 0;
    std::string answer;
    Exchange(
        [&](CSocketConn& conn) {
            char buffer[16];
            if (conn.Receive(buffer, sizeof buffer) == 4) {
                conn.Send("pong");
            }
        },
        [&](int port) {
            CTestTlsClient client;
            CTestTlsClient::Options options;
            options.minVersion = options.maxVersion = TLS1_2_VERSION;
            options.tls12Ciphers = c.clientCipher;
            connected = client.Connect(port, options);
            clientError = client.Error();
            if (connected) {
                EXPECT_TRUE(client.Write("ping"));
                client.ReadToEnd(&answer);
            }
        });
    EXPECT_EQ(connected, c.accepted) << ERR_error_string(clientError, nullptr);
    if (c.accepted) {
        EXPECT_EQ(answer, "pong");
        EXPECT_FALSE(m_log->HasPrefix(kAcceptFailed));
    } else {
        // The server's refusal, not the client's own.
        EXPECT_EQ(ERR_GET_REASON(clientError), SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE)
            << ERR_error_string(clientError, nullptr);
        EXPECT_TRUE(m_log->HasPrefix(kAcceptFailed));
    }
}

constexpr CTestCert::KeyType kRsa = CTestCert::KeyType::kRsa;
constexpr CTestCert::KeyType kEc = CTestCert::KeyType::kEc;

INSTANTIATE_TEST_SUITE_P(
    Suites, SslCipherTest,
    ::testing::Values(CipherCase{"RsaAes128Sha", kRsa, "AES128-SHA", false},
                      CipherCase{"RsaAes128Gcm", kRsa, "AES128-GCM-SHA256", false},
                      CipherCase{"RsaEcdheAes128Sha", kRsa, "ECDHE-RSA-AES128-SHA", false},
                      CipherCase{"RsaEcdheAes128Gcm", kRsa, "ECDHE-RSA-AES128-GCM-SHA256", true},
                      CipherCase{"RsaEcdheChaCha", kRsa, "ECDHE-RSA-CHACHA20-POLY1305", true},
                      CipherCase{"EcEcdheAes128Sha", kEc, "ECDHE-ECDSA-AES128-SHA", false},
                      CipherCase{"EcEcdheAes256Gcm", kEc, "ECDHE-ECDSA-AES256-GCM-SHA384", true},
                      CipherCase{"EcEcdheChaCha", kEc, "ECDHE-ECDSA-CHACHA20-POLY1305", true}),
    [](const auto& p) { return std::string(p.param.label); });

struct EndCase {
    const char* label;
    bool closeNotify;  // else the client's TCP stream just ends
    long result;
};

void PrintTo(const EndCase& c, std::ostream* os) {
    *os << c.label;
}

// What Receive gives once the client has gone.
constexpr long kStreamEnded = 0;
constexpr long kReceiveFailed = -1;

class SslPeerEndTest : public SslServerTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(SslPeerEndTest, EndsTheStream) {
    long first = 0;
    long second = 0;
    char buffer[64] = {};
    Exchange(
        [&](CSocketConn& conn) {
            first = conn.Receive(buffer, sizeof buffer);
            second = conn.Receive(buffer + 3, sizeof buffer - 3);
        },
        [&](int port) {
            CTestTlsClient client;
            ASSERT_TRUE(client.Connect(port, {}));
            EXPECT_TRUE(client.Write("abc"));
            if (GetParam().closeNotify) {
                client.Close();
            }
        });
    EXPECT_EQ(first, 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(second, GetParam().result);
    EXPECT_FALSE(m_log->HasPrefix("Couldn't decrypt"));
}

INSTANTIATE_TEST_SUITE_P(Ends, SslPeerEndTest,
                         ::testing::Values(EndCase{"CloseNotify", true, kStreamEnded},
                                           EndCase{"Truncated", false, kReceiveFailed}),
                         [](const auto& p) { return std::string(p.param.label); });

struct PlainCase {
    const char* label;
    std::string bytes;
    bool hintOn;
    bool hinted;
};

void PrintTo(const PlainCase& c, std::ostream* os) {
    *os << c.label;
}

class SslPlainRequestTest : public SslServerTest,
                            public ::testing::WithParamInterface<PlainCase> {};

TEST_P(SslPlainRequestTest, FailsTheHandshakeAfterTheHint) {
    const PlainCase& c = GetParam();
    m_ssl.SetPlainRequestHint(c.hintOn);
    long read = 0;
    Exchange(
        [&](CSocketConn& conn) {
            char buffer[16];
            read = conn.Receive(buffer, sizeof buffer);
        },
        [&](int port) {
            CTestTlsClient client;
            ASSERT_TRUE(client.ConnectPlain(port));
            EXPECT_TRUE(client.WritePlain(c.bytes));
            std::string ignored;
            client.ReadToEnd(&ignored);
        });
    EXPECT_EQ(read, -1);
    std::vector<std::string> lines = m_log->Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind(kAcceptFailed, 0), 0u) << lines.back();
    EXPECT_EQ(m_log->HasLine(kHint), c.hinted);
    if (c.hinted) {
        EXPECT_EQ(lines.front(), kHint);  // before the failure
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SslPlainRequestTest,
    ::testing::Values(PlainCase{"Get", "GET / HTTP/1.0\r\n\r\n", true, true},
                      PlainCase{"LowerCasePost", "post /form HTTP/1.0\r\n\r\n", true, true},
                      PlainCase{"HintOff", "GET / HTTP/1.0\r\n\r\n", false, false},
                      PlainCase{"OtherMethod", "HEAD / HTTP/1.0\r\n\r\n", true, false}),
    [](const auto& p) { return std::string(p.param.label); });

// The first flight a TLS client sends: a ClientHello made by an OpenSSL client.
std::string ClientHello() {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free);
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl.get(), in, out);
    SSL_connect(ssl.get());  // wants the answer; the hello is in out by now
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string hello(data, static_cast<size_t>(length));
    ERR_clear_error();
    return hello;
}

// A client that sends its first bytes and goes away before the server answers: the server's
// own flight, or its alert for a broken hello, finds nobody to take it.
TEST_F(SslServerTest, APeerGoneBeforeTheAnswerIsLoggedByWhatCouldNotBeSent) {
    struct Case {
        const char* label;
        std::string sent;
        std::vector<std::string> logged;
    };
    const Case cases[] = {
        {"hello", ClientHello(), {"Failed to send handshake to client"}},
        // A hello record one byte long: the server fails it and cannot say goodbye.
        {"broken hello",
         std::string("\x16\x03\x01\x00\x05\x01\x00\x00\x01\x00", 10),
         {kAcceptFailed, "Error disconnecting from client."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_FALSE(c.sent.empty());
        m_log.reset();  // before the next one becomes the window
        m_log = std::make_unique<CCapturedLog>(g_log);
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        ASSERT_EQ(::write(pair[1], c.sent.data(), c.sent.size()),
                  static_cast<ssize_t>(c.sent.size()));
        ::close(pair[1]);
        CSocketConn conn;
        conn.Attach(pair[0]);
        ASSERT_TRUE(m_ssl.Attach(conn));
        conn.SetTimeout(10);
        char buffer[16];
        EXPECT_EQ(conn.Receive(buffer, sizeof buffer), -1);
        conn.Close();
        // The socket's own line for the failed send may come first.
        const std::vector<std::string> lines = m_log->Lines();
        ASSERT_GE(lines.size(), c.logged.size());
        const size_t first = lines.size() - c.logged.size();
        for (size_t i = 0; i < c.logged.size(); ++i) {
            EXPECT_EQ(lines[first + i].rfind(c.logged[i], 0), 0u) << lines[first + i];
        }
        for (size_t i = 0; i < first; ++i) {
            EXPECT_EQ(lines[i].rfind("Socket error [32] when sending.", 0), 0u) << lines[i];
        }
    }
}

TEST_F(SslServerTest, SilentClientTimesOutInTheHandshake) {
    long read = 0;
    Exchange(
        [&](CSocketConn& conn) {
            char buffer[16];
            read = conn.Receive(buffer, sizeof buffer);
        },
        [&](int port) {
            CTestTlsClient client;
            ASSERT_TRUE(client.ConnectPlain(port));
            std::string ignored;
            client.ReadToEnd(&ignored);  // until the server gives up
        },
        1);
    EXPECT_EQ(read, -1);
    EXPECT_TRUE(m_log->HasLine("Timeout receiving on socket"));
    EXPECT_FALSE(m_log->HasPrefix(kAcceptFailed));
}

// The console's disconnect: another thread closes a connection whose owner
// waits for the client inside a read.
TEST_F(SslServerTest, CloseFromAnotherThreadBreaksAWaitingRead) {
    std::atomic<bool> done{false};
    std::thread peer([this, &done] {
        CTestTlsClient client;
        ASSERT_TRUE(client.Connect(m_port, {}));
        EXPECT_TRUE(client.Write("x"));
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    CSocketConn conn;
    ASSERT_TRUE(m_listener.Accept(conn));
    ASSERT_TRUE(m_ssl.Attach(conn));
    conn.SetTimeout(30);
    char buffer[8];
    EXPECT_EQ(conn.Receive(buffer, sizeof buffer), 1);
    std::thread breaker([&conn] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        conn.Close();
    });
    EXPECT_EQ(conn.Receive(buffer, sizeof buffer), -1);
    breaker.join();
    conn.Close();
    EXPECT_FALSE(conn.IsOpen());
    done = true;
    peer.join();
    EXPECT_FALSE(m_log->HasLine("Timeout receiving on socket"));
}

TEST_F(SslServerTest, ConnectionOutlivesFreedCredentials) {
    std::thread peer([this] {
        CTestTlsClient client;
        ASSERT_TRUE(client.Connect(m_port, {}));
        EXPECT_TRUE(client.Write("ping"));
        std::string answer;
        EXPECT_TRUE(client.ReadToEnd(&answer));
        EXPECT_EQ(answer, "pong");
    });
    CSocketConn conn;
    ASSERT_TRUE(m_listener.Accept(conn));
    ASSERT_TRUE(m_ssl.Attach(conn));
    m_ssl.FreeCredentials();
    EXPECT_FALSE(m_ssl.IsAcquired());
    conn.SetTimeout(10);
    char buffer[8] = {};
    EXPECT_EQ(conn.Receive(buffer, sizeof buffer), 4);
    EXPECT_TRUE(conn.Send("pong"));
    conn.Close();
    peer.join();

    CSocketConn other;
    EXPECT_FALSE(m_ssl.Attach(other));
    EXPECT_FALSE(other.IsSslOn());
}

struct AcquireCase {
    const char* label;
    std::string subject;
    std::string serial;
    std::function<void(const CTempFolder&, const CTestCert&)> prepare;
    std::string logPrefix;
};

void PrintTo(const AcquireCase& c, std::ostream* os) {
    *os << c.label;
}

class SslAcquireTest : public ::testing::TestWithParam<AcquireCase> {
protected:
    void SetUp() override { m_log = std::make_unique<CCapturedLog>(g_log); }
    void TearDown() override { g_log.SetFolder(""); }

    std::unique_ptr<CCapturedLog> m_log;
    CTempFolder m_folder;
};

TEST_P(SslAcquireTest, FailsWithItsReason) {
    const AcquireCase& c = GetParam();
    CTestCert cert({{"CN", "www.example.test"}}, {0x01, 0x02});
    c.prepare(m_folder, cert);
    CSslServer ssl;
    EXPECT_FALSE(ssl.AcquireCredentials(m_folder.Path(), c.subject, "www.example.test", c.serial));
    EXPECT_FALSE(ssl.IsAcquired());
    EXPECT_TRUE(m_log->HasPrefix(c.logPrefix)) << (m_log->Lines().empty() ? "" : m_log->Lines()[0]);
}

void CertWithKey(const CTempFolder& folder, const CTestCert& cert) {
    WriteTextFile(folder.File("server.pem"), cert.CertPem() + cert.KeyPem());
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, SslAcquireTest,
    ::testing::Values(
        AcquireCase{"NoSubject", "", "0102", CertWithKey, "Certficate not specified."},
        AcquireCase{"NamedButMissing", "www.example.test", "0A0B", CertWithKey,
                    "Certificate [0A0B] not found."},
        AcquireCase{"EmptyFolder", "www.example.test", "0102",
                    [](const CTempFolder&, const CTestCert&) {}, "Certificate [0102] not found."},
        AcquireCase{
            "FolderMissing", "www.example.test", "0102",
            [](const CTempFolder& f, const CTestCert&) { std::filesystem::remove_all(f.Path()); },
            "Error 0x2 returned by CertOpenSystemStore"},
        AcquireCase{"NoKey", "www.example.test", "0102",
                    [](const CTempFolder& f, const CTestCert& cert) {
                        WriteTextFile(f.File("server.pem"), cert.CertPem());
                    },
                    "No private key found for certificate file ["},
        AcquireCase{"KeyReadableByOthers", "www.example.test", "0102",
                    [](const CTempFolder& f, const CTestCert& cert) {
                        WriteTextFile(f.File("server.crt"), cert.CertPem(), 0644);
                        WriteTextFile(f.File("server.key"), cert.KeyPem(), 0640);
                    },
                    "Key file ["},
        AcquireCase{"KeyOfAnotherCertificate", "www.example.test", "0102",
                    [](const CTempFolder& f, const CTestCert& cert) {
                        CTestCert other({{"CN", "other"}}, {0x09});
                        WriteTextFile(f.File("server.pem"), cert.CertPem() + other.KeyPem());
                    },
                    "Error 0x"},
        // A key behind a pass phrase fails at once instead of waiting for a prompt.
        AcquireCase{"EncryptedKey", "www.example.test", "0102",
                    [](const CTempFolder& f, const CTestCert& cert) {
                        WriteTextFile(f.File("server.pem"), cert.CertPem() + cert.KeyPem("secret"));
                    },
                    "Error 0x"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(SslAcquireTest, FailureKeepsTheCredentialsHeld) {
    CTestCert cert({{"CN", "www.example.test"}}, {0x01, 0x02});
    CertWithKey(m_folder, cert);
    CSslServer ssl;
    ASSERT_TRUE(
        ssl.AcquireCredentials(m_folder.Path(), "WWW.example.TEST", "www.example.test", "0102"));
    EXPECT_FALSE(
        ssl.AcquireCredentials(m_folder.Path(), "www.example.test", "www.example.test", "0103"));
    EXPECT_TRUE(ssl.IsAcquired());
    ssl.FreeCredentials();
    EXPECT_FALSE(ssl.IsAcquired());
}

// Files made by the openssl tool, fetched by curl, through the program's own
// credentials.
TEST_F(SslAcquireTest, CurlFetchesAPageWithToolMadeCertificate) {
    if (system("command -v openssl >/dev/null && command -v curl >/dev/null") != 0) {
        GTEST_SKIP() << "openssl or curl is not installed";
    }
    std::string certs = CertificateFolderOf(m_folder.Path());
    std::string make = "mkdir -p " + certs + " && cd " + certs +
                       " && openssl req -x509 -newkey rsa:2048 -nodes -keyout server.key"
                       " -out server.pem -subj /CN=localhost -days 2 -set_serial 0xC0FFEE"
                       " 2>/dev/null";
    ASSERT_EQ(system(make.c_str()), 0);
    chmod((certs + "/server.key").c_str(), 0600);
    // The top bit of C0 asks for a leading 00 in the encoded serial.
    ASSERT_TRUE(AcquireServerCredentials(certs, "LocalHost", "localhost", "00C0 FFEE"));

    CSocketConn listener;
    ASSERT_TRUE(listener.Listen("127.0.0.1", 0));
    std::string request;
    std::thread server([&] {
        CSocketConn conn;
        if (!listener.Accept(conn) || !ServerSsl().Attach(conn)) {
            return;
        }
        conn.SetTimeout(10);
        char line[4096];
        while (ReadLineCount(conn, line, sizeof line) > 0) {
            request += std::string(line) + "\n";
        }
        conn.Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>Velmorin</p>");
        conn.CloseGracefully();
    });
    std::string command =
        "curl --tlsv1.2 -k -s -S https://127.0.0.1:" + std::to_string(listener.GetLocalPort()) +
        "/ 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, n);
        }
        EXPECT_EQ(pclose(pipe), 0) << output;
    }
    listener.Shutdown();  // frees the server thread if curl never came
    server.join();
    FreeServerCredentials();
    EXPECT_EQ(output, "<p>Velmorin</p>");
    EXPECT_EQ(request.rfind("GET / HTTP/1.1\n", 0), 0u) << request;
}

}  // namespace
