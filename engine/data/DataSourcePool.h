#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CDataSource;

// The data sources of a server: one shared data source per connection string and, where
// each thread owns its connection, private ones. A thread keeps its private data source
// between runs, so that each run reuses the connection of the run before instead of opening
// one of its own; a thread that has ended leaves its data sources to be deleted.
//
// Not thread-safe: the server context calls it under its own lock, which comes before the
// locks of the data sources.
class CDataSourcePool {
public:
    CDataSourcePool();
    ~CDataSourcePool();
    CDataSourcePool(const CDataSourcePool&) = delete;
    CDataSourcePool& operator=(const CDataSourcePool&) = delete;

    // The shared data source of `connection`, opened, with one more user (a new one starts
    // with one) and last used `now`. An Open failure gives the user back and passes on;
    // "Out of memory when creating data source." when none can be made.
    CDataSource* AcquireShared(const std::string& connection, int64_t now);
    // A private data source of `connection` for the calling thread, opened, with one user
    // and last used `now`: the one the thread kept from an earlier run when no run of the
    // thread uses it, else a new one ("Failed to allocate new database object." when none can
    // be made). An Open failure passes on; a new data source is deleted then, a kept one stays
    // closed for the next try.
    CDataSource* AcquireOwn(const std::string& connection, int64_t now);
    // One user fewer. A private data source stays with its thread unless the thread already
    // keeps another unused one of its connection string or it is left in a transaction.
    void Release(CDataSource* source);
    // "CloseIfNoOneUsesIt" to every data source last used more than `minutes` whole minutes
    // before `now`; unused private data sources of ended threads are deleted.
    void CloseIdle(int64_t now, int64_t minutes);
    // The shared data sources and the private ones in use, in the order in which they were
    // made or, for private ones, handed out.
    std::vector<CDataSource*> Listed();
    // Deletes every data source.
    void Clear();
    // The data sources held, unused private ones included.
    size_t Size() const { return m_entries.size(); }

private:
    struct CEntry;

    void DropEndedThreads();

    std::vector<std::unique_ptr<CEntry>> m_entries;
    uint64_t m_nHanded = 0;
};
