#pragma once

#include <string>
#include <vector>

// The map from file extension (without the point) to content type. Extensions match without
// regard to case (ASCII) and keep the spelling they were added with; entries stay in the order
// they were added, which is the order in which they are saved and walked.
class CMimeMap {
public:
    struct Entry {
        std::string m_extension;
        std::string m_contentType;
    };

    // Sets the type of an extension, replacing the type of an existing entry in place.
    void Set(const std::string& extension, const std::string& contentType);

    // Removes the entry of an extension; false when there is none.
    bool Remove(const std::string& extension);

    // The type of an extension, or nullptr.
    const std::string* Find(const std::string& extension) const;

    // The type that a file with this extension is sent with: its entry, else the "*" entry,
    // else "application/octet-stream".
    std::string ContentTypeFor(const std::string& extension) const;
    // ContentTypeFor the text after the last '.' of `fileName` (empty text without one).
    std::string ContentTypeForFile(const std::string& fileName) const;

    // The extension of the first entry other than "*" whose type equals `contentType` without
    // regard to case, or empty text.
    std::string ExtensionForType(const std::string& contentType) const;

    // Replaces the map by the built-in table.
    void FillDefaults();

    const std::vector<Entry>& Entries() const { return m_entries; }
    size_t Size() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }
    void Clear() { m_entries.clear(); }

    // The built-in table, in its order: content type and extension of each row.
    static const std::vector<Entry>& BuiltIn();

private:
    std::vector<Entry> m_entries;
};
