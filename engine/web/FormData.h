// The form and query variables of one request, and the uploaded files inside its body.
//
// Names are lower-cased (ASCII) before they are stored or looked up. An upload is kept as
// the range of its bytes inside the body and copied only when a script asks for it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

class CLongBinary;

class CFormData {
public:
    // Results of CopyFilePart.
    enum class ECopyResult { kOk = 0, kNotAFile = -1, kNoMemory = -2, kNoVariable = -3 };

    CFormData() = default;
    CFormData(const CFormData&) = delete;
    CFormData& operator=(const CFormData&) = delete;

    // The query text of the URL (after its first '?'), parsed before the body.
    void SetQuery(std::string query) { m_query = std::move(query); }
    const std::string& GetQuery() const { return m_query; }

    // The body of a POST, bytes as received.
    std::string& Body() { return m_body; }
    const std::string& Body() const { return m_body; }

    void SetMultipart(bool on) { m_multipart = on; }
    bool IsMultipart() const { return m_multipart; }

    // Parses the query as url-encoded text, then the body: as multipart/form-data when the
    // multipart flag is set, else as url-encoded text. False when a multipart part does not
    // end in the delimiter; what was parsed before stays.
    bool Parse();

    // Url-encoded pairs of text up to its first '#': "name=value" separated by '&', the
    // value URL-decoded, the name taken as it stands; a remainder without '=' is a name with
    // an empty value.
    void ParseUrlEncoded(std::string_view text);
    // The body as multipart/form-data whose delimiter is the body's first line.
    bool ParseMultipart();

    // Trims the value (blanks at both ends) and stores it under the lower-cased name; a
    // repeated name gets a non-empty value appended after "\n"; an empty value leaves a
    // stored one alone.
    void AddVar(std::string_view name, std::string_view value);
    // Trims the value and replaces whatever the name held.
    void SetVar(std::string_view name, std::string_view value);

    // The value, or nullptr when the name does not exist.
    const std::string* GetValue(std::string_view name) const;
    bool Exists(std::string_view name) const { return GetValue(name) != nullptr; }
    // Length of the value text, 0 when absent.
    size_t GetSize(std::string_view name) const;
    // True when the name is an uploaded file.
    bool IsFile(std::string_view name) const;

    // Copies the upload `name` into data and its name into fileName: the sent name after
    // its last '\' or '/', else its last ':', blanks turned into '_'; a name
    // that is then "", "." or ".." becomes "_". Returns an ECopyResult.
    [[nodiscard]] ECopyResult CopyFilePart(std::string_view name, std::string& fileName,
                                           CLongBinary& data) const;

    // The file name that CopyFilePart gives for a sent name.
    static std::string UploadFileName(std::string_view sentName);

    const std::map<std::string, std::string>& Values() const { return m_values; }

private:
    struct CPart {
        size_t m_start;
        size_t m_end;
    };

    bool m_multipart = false;
    std::string m_query;
    std::string m_body;
    std::map<std::string, std::string> m_values;
    std::map<std::string, CPart> m_parts;
};
