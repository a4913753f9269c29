#include "engine/data/DataSourcePool.h"

#include <algorithm>
#include <new>

#include "engine/data/DataSource.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

namespace {

// Lives as long as its thread: a private data source whose owner has expired belongs to a
// thread that has ended.
const std::shared_ptr<char>& ThreadToken() {
    thread_local const std::shared_ptr<char> token = std::make_shared<char>();
    return token;
}

bool SameOwner(const std::weak_ptr<char>& a, const std::weak_ptr<char>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

struct CDataSourcePool::CEntry {
    std::unique_ptr<CDataSource> m_source;
    std::weak_ptr<char> m_owner;  // empty for a shared data source
    uint64_t m_nOrder = 0;

    bool OwnedBy(const std::weak_ptr<char>& thread) const {
        return m_source->m_bPrivate && SameOwner(m_owner, thread);
    }
};

CDataSourcePool::CDataSourcePool() = default;

CDataSourcePool::~CDataSourcePool() = default;

CDataSource* CDataSourcePool::AcquireShared(const std::string& connection, int64_t now) {
    CDataSource* shared = nullptr;
    for (auto& entry : m_entries) {
        if (!entry->m_source->m_bPrivate && entry->m_source->ConnectString() == connection) {
            shared = entry->m_source.get();
            shared->AddUser();
            break;
        }
    }
    if (shared == nullptr) {
        try {
            auto entry = std::make_unique<CEntry>();
            entry->m_source = std::make_unique<CDataSource>(connection);
            entry->m_nOrder = ++m_nHanded;
            m_entries.push_back(std::move(entry));
        } catch (const std::bad_alloc&) {
            throw CSspException(g_msg.m_newDataSourceOutOfMemory);
        }
        shared = m_entries.back()->m_source.get();
    }
    shared->SetLastUse(now);
    try {
        shared->DoCommand("Open");
    } catch (...) {
        shared->RemoveUser();  // the caller gets nothing to give back
        throw;
    }
    return shared;
}

CDataSource* CDataSourcePool::AcquireOwn(const std::string& connection, int64_t now) {
    DropEndedThreads();
    const std::weak_ptr<char> thread = ThreadToken();
    for (auto& entry : m_entries) {
        CDataSource& kept = *entry->m_source;
        if (entry->OwnedBy(thread) && kept.ConnectString() == connection && kept.Users() == 0) {
            kept.AddUser();
            kept.SetLastUse(now);
            try {
                kept.DoCommand("Open");
            } catch (...) {
                kept.RemoveUser();
                throw;
            }
            entry->m_nOrder = ++m_nHanded;
            return &kept;
        }
    }
    std::unique_ptr<CEntry> entry;
    try {
        entry = std::make_unique<CEntry>();
        entry->m_source = std::make_unique<CDataSource>(connection);
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_newDatabaseFailed);
    }
    entry->m_source->m_bPrivate = true;
    entry->m_source->SetLastUse(now);
    entry->m_owner = thread;
    entry->m_source->DoCommand("Open");  // a failure deletes it on the way out
    entry->m_nOrder = ++m_nHanded;
    m_entries.push_back(std::move(entry));
    return m_entries.back()->m_source.get();
}

void CDataSourcePool::Release(CDataSource* source) {
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const auto& entry) { return entry->m_source.get() == source; });
    source->RemoveUser();
    if (it == m_entries.end() || !source->m_bPrivate || source->Users() > 0) {
        return;
    }
    const CEntry& released = **it;
    bool spare = std::any_of(m_entries.begin(), m_entries.end(), [&](const auto& entry) {
        return entry.get() != &released && entry->OwnedBy(released.m_owner) &&
               entry->m_source->ConnectString() == source->ConnectString() &&
               entry->m_source->Users() == 0;
    });
    if (spare || source->InTransaction()) {
        // Its destructor closes the connection.
        m_entries.erase(it);
    }
}

void CDataSourcePool::CloseIdle(int64_t now, int64_t minutes) {
    DropEndedThreads();
    for (auto& entry : m_entries) {
        if ((now - entry->m_source->GetLastUse()) / 60 > minutes) {
            entry->m_source->DoCommand("CloseIfNoOneUsesIt");
        }
    }
}

std::vector<CDataSource*> CDataSourcePool::Listed() {
    std::vector<const CEntry*> shown;
    for (const auto& entry : m_entries) {
        if (!entry->m_source->m_bPrivate || entry->m_source->Users() > 0) {
            shown.push_back(entry.get());
        }
    }
    std::sort(shown.begin(), shown.end(),
              [](const CEntry* a, const CEntry* b) { return a->m_nOrder < b->m_nOrder; });
    std::vector<CDataSource*> sources;
    for (const CEntry* entry : shown) {
        sources.push_back(entry->m_source.get());
    }
    return sources;
}

void CDataSourcePool::Clear() {
    m_entries.clear();
}

void CDataSourcePool::DropEndedThreads() {
    std::erase_if(m_entries, [](const auto& entry) {
        return entry->m_source->m_bPrivate && entry->m_owner.expired() &&
               entry->m_source->Users() == 0;
    });
}
