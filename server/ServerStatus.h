// What the running server is, as the console asks for it: the server app
// writes it as it starts and stops its parts; console commands read it. It
// belongs to the program, not to the parts it describes, so a command answered
// while the server stops never touches a freed listener or scheduler.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

class CServerStatus {
public:
    // Posts a task number to the scheduler; false when the post failed.
    using TaskPoster = std::function<bool(int taskNumber)>;

    struct Snapshot {
        bool m_webRunning = false;
        int64_t m_webStart = 0;  // seconds since 1970
        bool m_secureRunning = false;
        int64_t m_secureStart = 0;
        bool m_schedulerRunning = false;
    };

    void SetWebServer(bool running, int64_t startTime);
    void SetSecureServer(bool running, int64_t startTime);
    // An empty poster: no scheduler runs.
    void SetScheduler(TaskPoster poster);

    Snapshot Get() const;

    enum class PostResult { kPosted, kNotRunning, kFailed };
    // Hands a task number to the scheduler under the record's lock, so the
    // scheduler cannot go away in the middle.
    [[nodiscard]] PostResult PostRunTask(int taskNumber);

private:
    mutable std::mutex m_lock;
    Snapshot m_state;
    TaskPoster m_poster;
};
