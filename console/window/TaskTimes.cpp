#include "console/window/TaskTimes.h"

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/SspDateTime.h"

std::string TimeOfDayText(int64_t seconds) {
    const int64_t minutes = ((seconds / 60) % 1440 + 1440) % 1440;
    return CSspDateTime(CSspDateTime::MakeLocalTime(2001, 1, 1, static_cast<int>(minutes / 60),
                                                    static_cast<int>(minutes % 60), 0))
        .GetTimeStr();
}

bool ParseTimeOfDay(const std::string& text, int64_t& seconds) {
    // The engine's parser takes an empty text as midnight; here it is no time at all.
    if (TrimAsciiSpace(text).empty()) {
        return false;
    }
    int hour = 0;
    int minute = 0;
    if (!CSspDateTime::ParseTime(text, &hour, &minute)) {
        return false;
    }
    seconds = hour * 3600 + minute * 60;
    return true;
}
