// A listener on 127.0.0.1 (a free port) with its own server-thread pool over a temporary
// root, and a raw-HTTP client for it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
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
#include "engine/web/ListenerThread.h"
#include "engine/web/ServerThreadPool.h"

namespace serving_test {

using ::CCapturedLog;
using ::ReadAll;

// The body of an HTTP answer (after the blank line), or empty.
inline std::string BodyOf(const std::string& response) {
    size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

class ServingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_log = std::make_unique<CCapturedLog>(g_log);
        std::filesystem::create_directories(m_root + "/webroot");
        g_settings.GeneralMaxUpload = 10;
        g_settings.MimeTextEncoding = "iso-8859-1";
        g_settings.LogHttp = false;
        g_settings.EncryptFileID = true;
        g_settings.m_mimeMap.FillDefaults();
        m_pool = std::make_unique<CServerThreadPool>();
        m_pool->SetRootFolder(m_root);
        StartListener();
    }
    void TearDown() override {
        StopListener();
        m_pool.reset();
        g_log.SetFolder("");
    }

    void StartListener() {
        m_listener = CListenerThread::Create(m_pool.get());
        m_listener->m_strAddress = "127.0.0.1";
        m_listener->m_nPort = 0;
        ASSERT_TRUE(m_listener->Start());
        ASSERT_TRUE(m_listener->WaitStarted());
        m_port = m_listener->GetBoundPort();
    }
    void StopListener() {
        if (m_listener) {
            m_listener->Stop();
            EXPECT_TRUE(m_listener->WaitForEnd(std::chrono::seconds(30)));
            m_listener.reset();
        }
    }

    void WriteFile(const std::string& relative, const std::string& content) {
        std::filesystem::path path(m_root + "/webroot/" + relative);
        std::filesystem::create_directories(path.parent_path());
        ::WriteFile(path, content);
    }

    // Connects, sends `request` and reads until the server closes.
    std::string Fetch(const std::string& request) {
        CSocketConn conn;
        conn.SetTimeout(30);
        if (!conn.Connect("127.0.0.1", m_port)) {
            ADD_FAILURE() << "no connection";
            return std::string();
        }
        conn.Send(request);
        return ReadAll(conn);
    }
    std::string Get(const std::string& url) { return Fetch("GET " + url + " HTTP/1.0\r\n\r\n"); }

    // Opens `count` connections that have each sent `request` and read nothing yet.
    std::vector<std::unique_ptr<CSocketConn>> OpenSending(size_t count,
                                                          const std::string& request) {
        std::vector<std::unique_ptr<CSocketConn>> conns;
        for (size_t i = 0; i < count; ++i) {
            auto conn = std::make_unique<CSocketConn>();
            conn->SetTimeout(30);
            if (!conn->Connect("127.0.0.1", m_port) || !conn->Send(request)) {
                ADD_FAILURE() << "connection " << i << " failed";
                break;
            }
            conns.push_back(std::move(conn));
        }
        return conns;
    }

    std::unique_ptr<CCapturedLog> m_log;
    CTempFolder m_folder;
    std::string m_root = m_folder.Path();
    std::unique_ptr<CServerThreadPool> m_pool;
    std::shared_ptr<CListenerThread> m_listener;
    int m_port = 0;
};

}  // namespace serving_test
