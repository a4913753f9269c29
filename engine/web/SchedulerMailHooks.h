// What the system-script thread needs from the mail library, which links after this one:
// the Email Sender task and the error mail of a failed task. The server program installs
// the mail library's implementation at start-up; until then the thread sends nothing and
// queues no error mail.
#pragma once

#include <string>

class CSchedulerMailHooks {
public:
    virtual ~CSchedulerMailHooks() = default;

    // One run of the Email Sender task over the outbox, with its own log lines and its own
    // error mail. Called on the system-script thread only, one run at a time.
    virtual void RunEmailSender() = 0;

    // Queues a mail from and to the administrator. Called on the system-script thread.
    virtual void QueueAdminMail(const std::string& subject, const std::string& content) = 0;

    // The installed hooks, or nullptr. Install before the scheduler starts; `hooks` must
    // outlive it (nullptr removes them).
    static CSchedulerMailHooks* Current();
    static void Install(CSchedulerMailHooks* hooks);
};
