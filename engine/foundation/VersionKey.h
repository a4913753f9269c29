#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/foundation/SettingsStore.h"

// The settings key of one product version (company "Tormalek", product "Velmorin Server",
// version "2"), kept in the settings file under the installation root (see SettingsStore.h).
// Values are texts of any length and any bytes; names match without regard to case.
//
// Open takes a snapshot of the file; QueryValue answers from it, and every successful write
// refreshes it with the file as written, so a reader sees its own writes and the values of
// other writers as of its last open or write. Not thread-safe: one owner at a time.
//
// Between BeginUpdate and CommitUpdate, SetValue only stages its value (and reads see it);
// CommitUpdate writes all staged values in one atomic replacement, so a save of many values
// either lands whole or not at all.
class CVersionKey {
public:
    // Keeps the three names (not copied: they must outlive the key) and the root folder.
    CVersionKey(const char* company, const char* product, const char* version,
                std::string rootFolder);
    ~CVersionKey();

    CVersionKey(const CVersionKey&) = delete;
    CVersionKey& operator=(const CVersionKey&) = delete;

    // True when the snapshot is held afterwards. A store that does not exist yet opens empty.
    // A file that exists but cannot be read logs the system error text (FormatSystemError)
    // followed by " Current user needs to be granted administrator rights on this machine."
    // when access is denied, else by " when accessing registry.", and returns false;
    // LastError names the file.
    bool Open();

    // Writes one value (opening first when needed). Outside an update the file is rewritten at
    // once; false when the key cannot be opened, the name is empty, or the write fails (the
    // reason is kept in LastError, nothing is logged).
    bool SetValue(const std::string& name, const std::string& text);

    // Reads one value (opening first when needed). False, with `text` emptied, when the key
    // cannot be opened or holds no such value.
    bool QueryValue(const std::string& name, std::string& text);

    // Keeps the stored value of `name` when `usable` accepts it, else writes `made`; `text`
    // receives the value the store holds afterwards. Decided under the writers' lock, so
    // programs doing this at the same time all end with the one value written first. False,
    // with `text` emptied and the reason in LastError, when the store cannot be read or
    // written. Not within an update.
    bool EnsureValue(const std::string& name, const std::function<bool(const std::string&)>& usable,
                     const std::string& made, std::string& text);

    // Drops the snapshot. An update still open is committed first; when that fails its reason
    // is logged with " when closing version key." and the result is false.
    bool Close();

    bool IsOpen() const { return m_open; }

    // Starts staging writes (opening first when needed). Updates do not nest.
    void BeginUpdate();

    // Writes every staged value at once and ends the update. True when nothing was staged or
    // the write succeeded; on failure the snapshot is re-read so that reads no longer show the
    // values that were not written.
    bool CommitUpdate();

    bool InUpdate() const { return m_inUpdate; }

    const std::string& LastError() const { return m_lastError; }
    const std::string& StorePath() const { return m_store.Path(); }
    const char* Company() const { return m_company; }
    const char* Product() const { return m_product; }
    const char* Version() const { return m_version; }

private:
    const char* m_company;
    const char* m_product;
    const char* m_version;
    CSettingsStore m_store;
    bool m_open = false;
    bool m_inUpdate = false;
    bool m_updateFailed = false;  // a staged SetValue was refused
    CSettingsValues m_values;
    std::vector<CSettingsValues::Entry> m_staged;
    std::string m_lastError;
};
