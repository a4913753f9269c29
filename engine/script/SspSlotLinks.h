#pragma once

#include <array>
#include <vector>

// The slots of a statement range [from, to] that a search for an operand may still meet, as
// a doubly linked list in index order. Slots that can no longer take part (consumed operands,
// comparison and and/or slots) are unlinked, so no search walks over them twice. Small ranges
// use inline storage.
class CSspSlotLinks {
public:
    // Every slot of the range linked.
    CSspSlotLinks(int from, int to);
    CSspSlotLinks(const CSspSlotLinks&) = delete;
    CSspSlotLinks& operator=(const CSspSlotLinks&) = delete;

    // The linked slot after (before) `slot`, or to + 1 (from - 1) when there is none. `slot`
    // may be unlinked already: its own links are those it had when it was unlinked.
    int Next(int slot) const { return m_pNext[slot - m_nFrom]; }
    int Prev(int slot) const { return m_pPrev[slot - m_nFrom]; }
    void Unlink(int slot) {
        const int next = Next(slot);
        const int prev = Prev(slot);
        if (prev >= m_nFrom) {
            m_pNext[prev - m_nFrom] = next;
        }
        if (next <= m_nTo) {
            m_pPrev[next - m_nFrom] = prev;
        }
    }

private:
    static constexpr int kInline = 32;
    int m_nFrom;
    int m_nTo;
    std::array<int, kInline> m_nextInline;
    std::array<int, kInline> m_prevInline;
    std::vector<int> m_next;
    std::vector<int> m_prev;
    int* m_pNext;
    int* m_pPrev;
};
