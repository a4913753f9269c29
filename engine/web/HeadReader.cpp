#include "engine/web/HeadReader.h"

#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "engine/foundation/FoldedLog.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SslTransport.h"
#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/HttpRequest.h"

const size_t CHeadReader::kMaxBytes = CHttpRequest::kMaxHeaderBytes + CHttpRequest::kLineSize;
const size_t CHeadReader::kMaxBodyBytes = 65536;

namespace {
constexpr size_t kPiece = 16384;
}

CHeadReader::CHeadReader(int fd, const sockaddr_in& peer, std::unique_ptr<CSslTransport> tls,
                         Clock::time_point deadline)
    : m_fd(fd), m_peer(peer), m_tls(std::move(tls)), m_deadline(deadline) {}

CHeadReader::~CHeadReader() {
    // A plain connection that ends here never became a request.
    if (m_fd.Get() >= 0 && !m_tls) {
        CHttpRequest::HintHttpsOnPlainPort(m_bytes);
    }
}

CHeadReader::EState CHeadReader::Advance() {
    return m_tls ? ReadTls() : ReadPlain();
}

CHeadReader::EState CHeadReader::Take(const char* data, size_t count) {
    m_bytes.append(data, count);
    if (m_needed == 0) {
        if (m_scanner.Feed(std::string_view(data, count))) {
            m_needed = m_scanner.HeadSize();
            const int64_t body = m_scanner.PostBodyLength();
            if (body > 0 && static_cast<uint64_t>(body) <= kMaxBodyBytes) {
                m_needed += static_cast<size_t>(body);
            }
        } else if (m_bytes.size() >= kMaxBytes) {
            return EState::kComplete;  // the reader refuses it as too large
        }
    }
    return m_needed != 0 && m_bytes.size() >= m_needed ? EState::kComplete : EState::kReading;
}

CHeadReader::EState CHeadReader::ReadPlain() {
    char buffer[kPiece];
    for (;;) {
        ssize_t n = recv(m_fd.Get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            if (Take(buffer, static_cast<size_t>(n)) == EState::kComplete) {
                return EState::kComplete;
            }
            continue;
        }
        if (n == 0) {
            return EState::kFinished;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return EState::kReading;
        }
        // Resets come in floods as well.
        g_refusalLog.Log("Socket error [" + std::to_string(errno) + "] when receiving.");
        return EState::kFinished;
    }
}

CHeadReader::EState CHeadReader::ReadTls() {
    if (!m_handshakeDone) {
        switch (m_tls->HandshakeStep(m_fd.Get())) {
            case CSslTransport::EStep::Done:
                m_handshakeDone = true;
                break;
            case CSslTransport::EStep::WantRead:
                return EState::kReading;
            case CSslTransport::EStep::WantWrite:
                return EState::kWriting;
            case CSslTransport::EStep::Failed:
                return EState::kFinished;
        }
    }
    char buffer[kPiece];
    for (;;) {
        bool wantWrite = false;
        long n = m_tls->ReadStep(m_fd.Get(), buffer, sizeof buffer, wantWrite);
        if (n > 0) {
            if (Take(buffer, static_cast<size_t>(n)) == EState::kComplete) {
                return EState::kComplete;
            }
            continue;
        }
        if (n == -2) {
            return wantWrite ? EState::kWriting : EState::kReading;
        }
        return EState::kFinished;
    }
}

bool CHeadReader::IsConsoleCommand() const {
    const size_t end = m_bytes.find_first_of(" \t\r\n");
    return CConsoleCommandHandler::IsCommand(m_bytes.substr(0, end));
}

void CHeadReader::HandOver(CSocketConn& conn) {
    conn.Attach(m_fd.Release(), true);
    conn.SetPeerAddress(m_peer);
    conn.SetSslOn(m_tls != nullptr);
    if (m_tls) {
        conn.SetTransportReady(std::move(m_tls));
    }
    conn.SetPreRead(std::move(m_bytes));
}
