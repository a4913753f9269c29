#pragma once

#include <stdlib.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/foundation/SettingsStore.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/ScopedTimeZone.h"
#include "engine/testsupport/TempFolder.h"

// A root folder of its own for one test, removed afterwards.
class TempRoot : public CTempFolder {
public:
    // Puts values into the store as another program would have left them.
    void Store(const std::vector<CSettingsValues::Entry>& values) const {
        CSettingsStore store(CSettingsStore::PathUnderRoot(Path()));
        std::string error;
        if (!values.empty() && !store.Write(values, error)) {
            throw std::runtime_error(error);
        }
    }

    // A stored value, or nullopt.
    std::optional<std::string> Stored(const std::string& name) const {
        CSettingsValues values;
        std::string error;
        CSettingsStore(CSettingsStore::PathUnderRoot(Path())).Read(values, error);
        const std::string* value = values.Find(name);
        return value ? std::optional<std::string>(*value) : std::nullopt;
    }
};

// The local time of a wall-clock moment in the current TZ.
inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<std::time_t>(
        CSspDateTime::MakeLocalTime(year, month, day, hour, minute, second));
}

// "YYYY-MM-DD HH:MM:SS" of a time in the current TZ.
inline std::string LocalText(std::time_t time) {
    std::tm when{};
    localtime_r(&time, &when);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &when);
    return text;
}
