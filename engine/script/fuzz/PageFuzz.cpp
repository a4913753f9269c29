// libFuzzer target: arbitrary bytes run through the interpreter as a page, or as a script
// when they hold no code opener. A run is stopped once it has lasted kRunLimit, so that a
// page that loops is an ordinary input, not a hang.
//
// Inputs that name a file or LDAP object are skipped: those reach the disk, programs and
// the network. Without a server link, data sources and sessions fail as they do with none.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SspValue.h"
#include "engine/foundation/fuzz/ScratchFolder.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspInterpreter.h"

namespace {

constexpr auto kRunLimit = std::chrono::milliseconds(200);

// Stops the watched run once it has lasted kRunLimit.
class CRunWatchdog {
public:
    CRunWatchdog() : m_thread([this] { Loop(); }) {}
    ~CRunWatchdog() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_quit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    // nullptr when the run has ended.
    void Watch(CSspInterpreter* interp) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_interp = interp;
            m_deadline = std::chrono::steady_clock::now() + kRunLimit;
        }
        m_changed.notify_all();
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> guard(m_lock);
        while (!m_quit) {
            if (m_interp == nullptr) {
                m_changed.wait(guard);
            } else if (std::chrono::steady_clock::now() >= m_deadline) {
                m_interp->RequestStop();
                m_interp = nullptr;
            } else {
                m_changed.wait_until(guard, m_deadline);
            }
        }
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    CSspInterpreter* m_interp = nullptr;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_quit = false;
    std::thread m_thread;
};

// Output is formatted and dropped: a looping page must not fill the memory.
class CDroppingResponse : public CSspMemoryResponse {
public:
    void WriteText(std::string_view) override {}
    void WriteValue(const CSspValue& value) override { value.GetText(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CScratchFolder folder("page-fuzz");
    static CRunWatchdog watchdog;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string lower = AsciiLowerCopy(text);
    if (folder.Path().empty() || lower.find("file") != std::string::npos ||
        lower.find("ldap") != std::string::npos) {
        return 0;
    }
    const bool page = text.find("--{") != std::string_view::npos;
    const std::string path = folder.Path() + (page ? "/fuzz.zrp" : "/fuzz.zrs");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) {
            return 0;
        }
    }
    CDroppingResponse response;
    CSspInterpreter interp;
    watchdog.Watch(&interp);
    interp.RunPage(path, page ? "/fuzz.zrp" : "/script/fuzz.zrs", nullptr, &response);
    watchdog.Watch(nullptr);
    return 0;
}
