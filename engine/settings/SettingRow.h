#pragma once

#include <span>
#include <string>
#include <variant>

enum class SettingsBuild;
class CServerSettings;

// How a setting is stored. Switches are stored as "yes"/"no" and differ in which stored text
// they take as the exception: kOnWhenYes is on only for "yes", kOnUnlessNo on unless "no".
// The task table and the MIME map are their own structures; their rows only mark where they are
// loaded, saved and compared among the others.
enum class SettingKind { kText, kNumber, kOnWhenYes, kOnUnlessNo, kTaskTable, kMimeMap };

// Who reads a setting and whether the console's Save writes it (IsDifferent compares exactly
// the saved ones).
enum class SettingUse {
    kSaved,       // every program reads it, the console saves it
    kLoadedOnly,  // every program reads it, nobody saves it
    kServerOnly,  // the server and the studio read it, the console neither reads nor saves it
};

// What Load does to a value after reading it (or taking the default).
enum class SettingCorrection {
    kNone,
    kTrimRight,       // trailing white space removed
    kTrim,            // white space removed at both ends
    kBlankIsMissing,  // a blank stored text counts as missing: the default applies
    kRaiseToLeast,    // a number below m_least becomes m_least
    kDefaultOutside,  // a number outside m_least..m_most becomes the default
};

// One stored value of the server settings: the one place that names it.
struct SettingRow {
    using Member = std::variant<std::monostate, std::string CServerSettings::*,
                                int CServerSettings::*, bool CServerSettings::*>;
    // Runs after the read and the correction, for the values whose rule looks at others.
    using Rule = void (*)(CServerSettings& settings, bool stored);

    const char* m_name = nullptr;  // as stored; nullptr for the task table and the MIME map
    Member m_member{};
    const char* m_default = "";  // as stored: "600", "yes"
    SettingKind m_kind = SettingKind::kText;
    SettingUse m_use = SettingUse::kSaved;
    SettingCorrection m_correction = SettingCorrection::kNone;
    int m_least = 0;
    int m_most = 0;
    Rule m_rule = nullptr;

    bool ReadBy(SettingsBuild build) const;
    bool IsValue() const { return m_name != nullptr; }

    // The member set to the default, as the constructor leaves it.
    void SetDefault(CServerSettings& settings) const;
    // Reads the value from the settings' key with the default, correction and rule.
    void Load(CServerSettings& settings) const;
    // The member's value in its stored form.
    std::string StoredText(const CServerSettings& settings) const;
    bool SameValue(const CServerSettings& a, const CServerSettings& b) const;
};

// Every row, in the order in which Save writes them.
std::span<const SettingRow> ServerSettingRows();
