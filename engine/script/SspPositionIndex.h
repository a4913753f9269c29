#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// Entries by byte offset in one text, shared by the runs of every thread: a lookup is a
// plain load without a lock; a store takes the lock and keeps the first entry made for an
// offset, so a reader holding an entry holds it for the life of the index. Pages of slots
// are made when a store first needs them, so literal text costs nothing.
template <class T>
class CSspPositionIndex {
public:
    explicit CSspPositionIndex(std::size_t size)
        : m_nSize(size), m_pages(std::make_unique<std::atomic<CPage*>[]>(size / kPage + 1)) {}
    CSspPositionIndex(const CSspPositionIndex&) = delete;
    CSspPositionIndex& operator=(const CSspPositionIndex&) = delete;

    const T* Find(std::size_t offset) const {
        if (offset >= m_nSize) {
            return nullptr;
        }
        const CPage* page = m_pages[offset / kPage].load(std::memory_order_acquire);
        return page != nullptr ? page->m_slots[offset % kPage].load(std::memory_order_acquire)
                               : nullptr;
    }

    // The entry at `offset`: the one stored before, else `entry`. Nullptr past the text.
    const T* Store(std::size_t offset, T&& entry) {
        if (offset >= m_nSize) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        std::atomic<CPage*>& pageSlot = m_pages[offset / kPage];
        CPage* page = pageSlot.load(std::memory_order_relaxed);
        if (page == nullptr) {
            m_ownedPages.push_back(std::make_unique<CPage>());
            page = m_ownedPages.back().get();
            pageSlot.store(page, std::memory_order_release);
        }
        std::atomic<const T*>& slot = page->m_slots[offset % kPage];
        if (const T* known = slot.load(std::memory_order_relaxed)) {
            return known;
        }
        m_entries.push_back(std::make_unique<T>(std::move(entry)));
        slot.store(m_entries.back().get(), std::memory_order_release);
        return m_entries.back().get();
    }

private:
    static constexpr std::size_t kPage = 1024;
    struct CPage {
        std::array<std::atomic<const T*>, kPage> m_slots{};
    };

    std::size_t m_nSize;
    std::unique_ptr<std::atomic<CPage*>[]> m_pages;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<CPage>> m_ownedPages;
    std::vector<std::unique_ptr<T>> m_entries;
};
