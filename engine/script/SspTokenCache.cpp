#include "engine/script/SspTokenCache.h"

#include "engine/script/SspRegion.h"

struct CSspTokenCache::CRegionSlot {
    std::mutex m_mutex;
    std::atomic<const CSspRegion*> m_pCurrent{nullptr};
    std::vector<std::unique_ptr<CSspRegion>> m_built;
};

CSspTokenCache::CSspTokenCache(const char* begin, std::size_t size)
    : m_pBegin(begin),
      m_nSize(size),
      m_tokens(size),
      m_literals(size),
      m_statements(size),
      m_parens(size),
      m_beforeParens(size),
      m_assignments(size),
      m_steps(size),
      m_callArgs(size),
      m_regions(size),
      m_skips{CSspPositionIndex<CSkip>(size), CSspPositionIndex<CSkip>(size),
              CSspPositionIndex<CSkip>(size)} {}

CSspTokenCache::~CSspTokenCache() = default;

const CSspTokenCache::CStep* CSspTokenCache::StepFromToken(const char* pos) {
    if (const CStep* step = FindStep(pos)) {
        return step;
    }
    const CToken* token = FindToken(pos);
    if (token == nullptr) {
        return nullptr;
    }
    CStep step{{},
               token->m_pStart,
               token->m_pAfter,
               token->m_pAfter,
               token->m_keyword,
               CStep::EHead::Statement,
               false,
               false};
    if (token->m_text == ";") {
        step.m_head = CStep::EHead::Semicolon;
    } else if (token->m_text == "}--") {
        step.m_head = CStep::EHead::BlockEnd;
    } else if (token->m_keyword == CSspKeyword::None) {
        // What follows decides such a head: the executor keeps it once it has read that.
        return nullptr;
    }
    m_steps.Store(Offset(pos), std::move(step));
    return FindStep(pos);
}

const CSspRegion* CSspTokenCache::RegionAt(const char* pos, const char* end, int codeKind) {
    const std::unique_ptr<CRegionSlot>* slot = m_regions.Find(Offset(pos));
    if (slot == nullptr) {
        slot = m_regions.Store(Offset(pos), std::make_unique<CRegionSlot>());
        if (slot == nullptr) {
            return nullptr;
        }
    }
    CRegionSlot& regions = **slot;
    const CSspRegion* current = regions.m_pCurrent.load(std::memory_order_acquire);
    if (current != nullptr && (current->Final() || !current->CanGrow(*this))) {
        return current;
    }
    std::lock_guard<std::mutex> lock(regions.m_mutex);
    current = regions.m_pCurrent.load(std::memory_order_relaxed);
    if (current != nullptr && (current->Final() || !current->CanGrow(*this))) {
        return current;
    }
    // Replaced regions stay for the runs still reading them, so a region grows a bounded
    // number of times; the last one is kept however short it stopped.
    constexpr std::size_t kMaxBuilds = 16;
    regions.m_built.push_back(
        std::make_unique<CSspRegion>(CSspRegion::Build(*this, pos, end, codeKind)));
    if (regions.m_built.size() == kMaxBuilds) {
        regions.m_built.back()->MakeFinal();
    }
    current = regions.m_built.back().get();
    regions.m_pCurrent.store(current, std::memory_order_release);
    return current;
}
