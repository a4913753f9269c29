#include "engine/web/ServerThread.h"

#include <unistd.h>

#include <exception>
#include <system_error>
#include <utility>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SslServer.h"
#include "engine/script/SspInterpreter.h"
#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/RequestDispatch.h"

CServerThread::CServerThread(CServerThreadPool* pool, std::string rootFolder)
    : m_pPool(pool), m_rootFolder(std::move(rootFolder)) {}

CServerThread::~CServerThread() {
    if (m_thread.joinable()) {
        m_queue.Post(WM_QUIT);
        m_thread.join();
    }
}

bool CServerThread::Start() {
    try {
        m_thread = std::thread(&CServerThread::Run, this);
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [this] { return m_bRunning; });
    return true;
}

void CServerThread::Run() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_threadId = static_cast<int>(gettid());
        m_bRunning = true;
    }
    m_changed.notify_all();
    CThreadMessage message;
    while (m_queue.Get(message) && message.m_id != WM_QUIT) {
        if (message.m_id == WM_SERVE_CONNECTION) {
            OnServeConnection();
        }
    }
    m_queue.Close();
    EndThreadSsl();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bEnded = true;
    }
    m_changed.notify_all();
}

void CServerThread::OnServeConnection() {
    bool inputLeft = false;
    try {
        m_socket.SetTimeout(kTimeoutSeconds);
        // A connection of the HTTPS listener normally comes with its handshake done; one
        // handed over without its layer gets it here.
        if (!m_socket.IsSslOn() || m_socket.HasTransport() || ServerSsl().Attach(m_socket)) {
            CHttpRequest request(&m_socket);
            request.SetRootFolder(m_rootFolder);
            // The head is in memory already; a body that trickles in is cut off.
            m_socket.SetRateFloor(kBodyRateFloor, kBodyRateWindow);
            const CHttpRequest::EReadResult result = request.ReadRequest();
            m_socket.ClearRateFloor();
            inputLeft = IsBodyLeftUnread(request, result);
            SetCurrentRequest(request.GetUrlFull());
            if (CConsoleCommandHandler::IsCommand(request.GetMethod())) {
                if (CConsoleCommandHandler* handler = CConsoleCommandHandler::Current()) {
                    handler->HandleCommand(*this, request.GetMethod(), request.GetUrlFull());
                }
            } else {
                // Every answer of the dispatcher begins "HTTP/1.0 ".
                m_socket.SetAnswerLead('H');
                CRequestDispatch dispatch(
                    m_socket, m_threadId, m_rootFolder,
                    [this](CSspInterpreter* interp) { SetInterpreter(interp); });
                dispatch.SetOutputBuffer(&m_output);
                dispatch.SetFileCache(&m_files);
                dispatch.HandleRequest(request, result);
            }
        }
    } catch (const std::exception& e) {
        g_log.Log("Server thread %d: %s", m_threadId, e.what());
    } catch (...) {
        g_log.Log("Server thread %d: unknown error.", m_threadId);
    }
    SetInterpreter(nullptr);
    // Lingering is for a client still sending a body that was refused: it must read the
    // answer, not a reset. Any other client gets its end at once.
    m_socket.CloseAfterAnswer(inputLeft);
    ReleaseToPool();
}

bool CServerThread::IsBodyLeftUnread(const CHttpRequest& request,
                                     CHttpRequest::EReadResult readResult) {
    if (!request.HasContentLength() || request.GetContentLength() <= 0 ||
        readResult == CHttpRequest::EReadResult::kFailed) {
        return false;
    }
    return !(AsciiEqualNoCase(request.GetMethod(), "POST") &&
             readResult == CHttpRequest::EReadResult::kOk);
}

bool CServerThread::TryClaim() {
    // A thread serving takes its lock often; the listener need not contend for it to learn
    // that the thread is busy.
    if (m_nBusy.load(std::memory_order_relaxed) != 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nBusy != 0) {
        return false;
    }
    m_nBusy = 1;
    m_bStopAsked = false;
    return true;
}

bool CServerThread::IsBusy() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nBusy == 1;
}

void CServerThread::SetCurrentRequest(const std::string& url) {
    std::string text = url + (m_socket.IsSslOn() ? " (https)" : " (http)");
    std::lock_guard<std::mutex> guard(m_lock);
    m_strCurrentRequest = std::move(text);
}

std::string CServerThread::GetCurrentRequest() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_strCurrentRequest;
}

void CServerThread::ReleaseToPool() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_strCurrentRequest.clear();
    if (m_nBusy == 1) {
        m_nBusy = 0;
    }
}

void CServerThread::BreakConnection() {
    m_socket.Shutdown();
}

void CServerThread::CheckClient() {
    if (m_socket.CheckClientGone()) {
        RequestStop();
    }
}

void CServerThread::SetStartTime(std::int64_t time) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_timeStart = time;
}

std::int64_t CServerThread::GetStartTime() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_timeStart;
}

std::string CServerThread::GetPeerAddress() {
    return m_socket.GetPeerAddressText();
}

bool CServerThread::Post(unsigned id, std::uintptr_t wParam, std::intptr_t lParam) {
    return m_queue.Post(id, wParam, lParam);
}

bool CServerThread::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [this] { return m_bEnded; });
}

void CServerThread::SetInterpreter(CSspInterpreter* interp) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pInterpreter = interp;
    if (interp != nullptr && m_bStopAsked) {
        interp->RequestStop();
    }
}

void CServerThread::RequestStop() {
    std::lock_guard<std::mutex> guard(m_lock);
    // A stop asked before the page runs (its head still being read) holds for it.
    m_bStopAsked = true;
    if (m_pInterpreter != nullptr) {
        m_pInterpreter->RequestStop();
    }
}

bool CServerThread::DumpPosition() {
    // Under the lock: the run cannot end (and free its interpreter) while it is read.
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pInterpreter == nullptr) {
        return false;
    }
    m_pInterpreter->DumpPosition();
    return true;
}

void CServerThread::Detach() {
    if (m_thread.joinable()) {
        m_thread.detach();
    }
}
