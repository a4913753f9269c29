#include "engine/script/SspSlotLinks.h"

CSspSlotLinks::CSspSlotLinks(int from, int to) : m_nFrom(from), m_nTo(to) {
    const int count = to - from + 1;
    if (count <= kInline) {
        m_pNext = m_nextInline.data();
        m_pPrev = m_prevInline.data();
    } else {
        m_next.resize(static_cast<std::size_t>(count));
        m_prev.resize(static_cast<std::size_t>(count));
        m_pNext = m_next.data();
        m_pPrev = m_prev.data();
    }
    for (int i = 0; i < count; ++i) {
        m_pNext[i] = from + i + 1;
        m_pPrev[i] = from + i - 1;
    }
}
