#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The settings file that the server, the studio and the console share, in place of a
// machine-wide registry key. It lives at <root>/etc/velmorin.conf.
//
// Format: text, one setting per line, "Name=Value". Everything after the first '=' is the
// value; blanks and tabs around the name and around the value are ignored, and a CR at the end
// of a line is dropped, so the file may be edited by hand. Names match without regard to case
// (ASCII); the first line of a name wins. Lines that are empty, start with '#', or hold no '='
// are ignored by readers and kept as they stand when the file is rewritten.
//
// Escapes make every byte string round-trip while the file stays readable:
//   \\  backslash      \n  LF      \r  CR      \t  TAB      \xHH  the byte 0xHH
// A writer escapes backslash, every control byte and DEL, and a blank or tab at either end of a
// text; in names it also escapes '=' and '#'. Bytes from 0x80 up are written as they are. A
// reader keeps a backslash that starts no known escape as a plain backslash.
//
// Writers take an exclusive flock on <file>.lock, re-read the file under it, change only the
// names they set (in place, or appended at the end), write a temporary file in the same folder
// (".new-<file name>-XXXXXX"), fsync it and rename it over the store. Readers take no lock and
// need no write access: they always see a whole file, the old one or the new one.
//
// The file holds passwords: it is created mode 0640 with the group of the installation root
// (the folder above the store's folder), and every rewrite keeps the mode, owner and group of
// the file it replaces (only root can keep another user's ownership; a group the writer cannot
// keep fails the write).

// The values of a store, in file order.
class CSettingsValues {
public:
    using Entry = std::pair<std::string, std::string>;

    // The value of the first entry whose name equals `name` without regard to case, or nullptr.
    const std::string* Find(const std::string& name) const;

    // Replaces the value of `name` (keeping its first spelling) or appends it.
    void Set(const std::string& name, const std::string& value);

    const std::vector<Entry>& Entries() const { return m_entries; }
    size_t Size() const { return m_entries.size(); }
    void Clear() { m_entries.clear(); }

private:
    std::vector<Entry> m_entries;
};

class CSettingsStore {
public:
    // The store kept at `filePath`; nothing is touched until a read or a write.
    explicit CSettingsStore(std::string filePath);

    // <root>/etc/velmorin.conf.
    static std::string PathUnderRoot(const std::string& rootFolder);

    const std::string& Path() const { return m_path; }

    // Reads every value. A missing file (or folder) is an empty store and succeeds. Returns
    // false with a reason in `error` (and the errno in `code`) when the file exists but cannot
    // be read.
    bool Read(CSettingsValues& values, std::string& error, int* code = nullptr) const;

    // Sets the given names to the given values in one atomic replacement of the file, creating
    // the folder and the file when needed. On success `merged` (when given) receives every value
    // of the file as written. Returns false with a reason in `error` when any step fails, in
    // which case the file is exactly as it was. A name that is empty after trimming its blanks
    // is refused.
    bool Write(const std::vector<CSettingsValues::Entry>& changes, std::string& error,
               CSettingsValues* merged = nullptr);

    // The changes to write, chosen from the values the file holds.
    using Decision =
        std::function<std::vector<CSettingsValues::Entry>(const CSettingsValues& current)>;
    // Write with changes that `decide` chooses under the writers' lock from the file as it is
    // then, so that no other writer can change the file between the look and the write (two
    // programs that each set a value only when it is missing end with the same value). No
    // changes write nothing.
    bool Update(const Decision& decide, std::string& error, CSettingsValues* merged = nullptr);

    // The escaping of the format, exposed for tests and for tools that print values.
    static std::string EscapeName(const std::string& name);
    static std::string EscapeValue(const std::string& value);
    static std::string Unescape(const std::string& text);

    // Parses the text of a store file.
    static CSettingsValues Parse(const std::string& text);

    // Removes the temporary files that killed writers left behind, whenever they were
    // written; returns how many. Runs under the writers' lock, so no write in progress loses
    // its file.
    int RemoveLeftovers();

private:
    // The temporary file's path without its six random characters.
    std::string TempPrefix() const;

    std::string m_path;
};
