// A wall-clock moment as the C library's broken-down time, for tests that pin clocks.
#pragma once

#include <ctime>

// Daylight saving left for mktime to decide.
std::tm CivilTime(int year, int month, int day, int hour, int minute, int second);
