// Times of day of the scheduled tasks as the Tasks page shows and reads them: in the locale's
// time form of the engine's date value, so that every minute of the day prints and parses back.
#pragma once

#include <cstdint>
#include <string>

// The time of day (seconds after midnight) in the locale's form: "06:00AM" or "06:00".
std::string TimeOfDayText(int64_t seconds);
// Seconds after midnight of a time typed or shown; false for an empty or unreadable text.
bool ParseTimeOfDay(const std::string& text, int64_t& seconds);
