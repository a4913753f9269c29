#include "engine/foundation/LocaleDates.h"

#include <mutex>

namespace {

// Reached through a function so that static initialisers of other files may read it.
struct LocaleDatesState {
    std::mutex m_lock;
    CLocaleDates m_dates;
};

LocaleDatesState& State() {
    static LocaleDatesState state;
    return state;
}

std::string OrderedPattern(const CLocaleDates& dates) {
    const char sep = dates.m_dateSeparator;
    switch (dates.m_dateOrder) {
        case DateOrder::kDayMonthYear:
            return std::string("dd") + sep + "mm" + sep + "yyyy";
        case DateOrder::kYearMonthDay:
            return std::string("yyyy") + sep + "mm" + sep + "dd";
        case DateOrder::kMonthDayYear:
            break;
    }
    return std::string("mm") + sep + "dd" + sep + "yyyy";
}

}  // namespace

void LoadLocaleDateSettings() {
    SetLocaleDateSettings(CLocaleDates{});
}

void SetLocaleDateSettings(const CLocaleDates& dates) {
    CLocaleDates clean = dates;
    const CLocaleDates defaults;
    if (clean.m_dateSeparator == '\0') {
        clean.m_dateSeparator = defaults.m_dateSeparator;
    }
    if (clean.m_timeSeparator == '\0') {
        clean.m_timeSeparator = defaults.m_timeSeparator;
    }
    switch (clean.m_dateOrder) {
        case DateOrder::kMonthDayYear:
        case DateOrder::kDayMonthYear:
        case DateOrder::kYearMonthDay:
            break;
        default:
            clean.m_dateOrder = defaults.m_dateOrder;
    }
    if (clean.m_amText.size() > CLocaleDates::kMaxDesignatorLength) {
        clean.m_amText.resize(CLocaleDates::kMaxDesignatorLength);
    }
    if (clean.m_pmText.size() > CLocaleDates::kMaxDesignatorLength) {
        clean.m_pmText.resize(CLocaleDates::kMaxDesignatorLength);
    }
    LocaleDatesState& state = State();
    std::lock_guard<std::mutex> guard(state.m_lock);
    state.m_dates = std::move(clean);
}

CLocaleDates GetLocaleDateSettings() {
    LocaleDatesState& state = State();
    std::lock_guard<std::mutex> guard(state.m_lock);
    return state.m_dates;
}

std::string GetLocaleDatePattern() {
    return OrderedPattern(GetLocaleDateSettings());
}

std::string GetLocaleDateTimePattern() {
    const CLocaleDates dates = GetLocaleDateSettings();
    const char sep = dates.m_timeSeparator;
    return OrderedPattern(dates) + " hh" + sep + "mm" + sep + "ss";
}
