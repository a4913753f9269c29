// Loopback plumbing for the request and response tests: raw bytes in from a client
// thread, the server's side run on the accepted connection, every byte the client got back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/ReadAll.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace wire_test {

using ::CCapturedLog;
using ::ReadAll;

// Dates change from run to run: every HTTP date becomes "<date>".
inline std::string MaskDates(const std::string& text) {
    static const std::regex date(
        "[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT");
    return std::regex_replace(text, date, "<date>");
}

class WireTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_log = std::make_unique<CCapturedLog>(g_log);
        std::filesystem::create_directories(m_root + "/webroot");
        std::filesystem::create_directories(m_root + "/tmp");
        g_settings.GeneralMaxUpload = 10;
        g_settings.MimeTextEncoding = "iso-8859-1";
        g_settings.m_mimeMap.FillDefaults();
        ASSERT_TRUE(m_listener.Listen("127.0.0.1", 0));
        m_port = m_listener.GetLocalPort();
    }
    void TearDown() override { g_log.SetFolder(""); }

    void WriteFile(const std::string& relative, const std::string& content) {
        ASSERT_TRUE(::WriteFile(m_root + "/" + relative, content));
    }

    // The client sends `request` and shuts its sending side; the server runs `serve` on
    // the accepted connection and closes it gracefully. Returns what the client received.
    std::string Exchange(const std::string& request,
                         const std::function<void(CSocketConn&)>& serve) {
        std::string received;
        std::thread client([&] {
            CSocketConn conn;
            conn.SetTimeout(20);
            if (!conn.Connect("127.0.0.1", m_port)) {
                return;
            }
            conn.Send(request);
            ::shutdown(conn.GetHandle(), SHUT_WR);
            received = ReadAll(conn);
        });
        CSocketConn server;
        if (m_listener.Accept(server)) {
            server.SetTimeout(20);
            serve(server);
            server.CloseGracefully();
        }
        client.join();
        return received;
    }

    std::unique_ptr<CCapturedLog> m_log;
    CTempFolder m_folder;
    std::string m_root = m_folder.Path();
    CSocketConn m_listener;
    int m_port = 0;
};

}  // namespace wire_test
