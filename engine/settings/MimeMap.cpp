#include "engine/settings/MimeMap.h"

#include <initializer_list>

#include "engine/foundation/AsciiText.h"

namespace {

struct TypeRow {
    const char* m_type;
    std::initializer_list<const char*> m_extensions;
};

std::vector<CMimeMap::Entry> BuildTable() {
    static const TypeRow kRows[] = {
        {"text/html", {"htm", "html", "stm"}},
        {"text/plain", {"txt", "bas", "c", "h"}},
        {"text/css", {"css"}},
        {"image/gif", {"gif"}},
        {"image/jpeg", {"jpg", "jpeg", "jpe"}},
        {"image/bmp", {"bmp"}},
        {"application/octet-stream", {"*", "bin", "exe"}},
        {"application/pdf", {"pdf"}},
        {"application/oda", {"oda"}},
        {"application/x-zip-compressed", {"zip"}},
        {"application/rtf", {"rtf"}},
        {"application/postscript", {"ps", "ai", "eps"}},
        {"application/mac-binhex40", {"hqx"}},
        {"application/msword", {"doc", "dot"}},
        {"application/winhlp", {"hlp"}},
        {"video/mpeg", {"mpeg", "mpg", "mpe"}},
        {"video/x-msvideo", {"avi"}},
        {"video/quicktime", {"qt", "mov"}},
        {"video/x-sgi-movie", {"movie"}},
        {"x-world/x-vrml", {"wrl", "xaf", "xof", "flr", "wrz"}},
        {"application/x-director", {"dcr", "dir", "dxr"}},
        {"image/cis-cod", {"cod"}},
        {"image/x-cmx", {"cmx"}},
        {"application/envoy", {"evy"}},
        {"application/x-msaccess", {"mdb"}},
        {"application/x-mscardfile", {"crd"}},
        {"application/x-msclip", {"clp"}},
        {"application/vnd.ms-excel", {"xla", "xlc", "xlm", "xls", "xlt", "xlw"}},
        {"application/x-msmediaview", {"m13", "m14"}},
        {"application/x-msmoney", {"mny"}},
        {"application/vnd.ms-powerpoint", {"ppt", "pps", "pot"}},
        {"application/vnd.ms-project", {"mpp"}},
        {"application/x-mspublisher", {"pub"}},
        {"application/x-msschedule", {"scd"}},
        {"application/x-msterminal", {"trm"}},
        {"application/vnd.ms-works", {"wks", "wdb", "wps", "wcm"}},
        {"application/x-mswrite", {"wri"}},
        {"application/x-msmetafile", {"wmf"}},
        {"application/x-csh", {"csh"}},
        {"application/x-dvi", {"dvi"}},
        {"application/x-hdf", {"hdf"}},
        {"application/x-latex", {"latex"}},
        {"application/x-netcdf", {"nc"}},
        {"application/x-sh", {"sh"}},
        {"application/x-tcl", {"tcl"}},
        {"application/x-tex", {"tex"}},
        {"application/x-texinfo", {"texinfo", "texi"}},
        {"application/x-troff", {"t", "tr", "roff"}},
        {"application/x-troff-man", {"man"}},
        {"application/x-troff-me", {"me"}},
        {"application/x-troff-ms", {"ms"}},
        {"application/x-wais-source", {"src"}},
        {"application/x-bcpio", {"bcpio"}},
        {"application/x-cpio", {"cpio"}},
        {"application/x-gtar", {"gtar"}},
        {"application/x-shar", {"shar"}},
        {"application/x-sv4cpio", {"sv4cpio"}},
        {"application/x-sv4crc", {"sv4crc"}},
        {"application/x-tar", {"tar"}},
        {"application/x-ustar", {"ustar"}},
        {"audio/basic", {"au", "snd"}},
        {"audio/x-aiff", {"aif", "aiff", "aifc"}},
        {"audio/x-wav", {"wav"}},
        {"audio/x-pn-realaudio", {"ram", "ra"}},
        {"image/ief", {"ief"}},
        {"image/tiff", {"tiff", "tif"}},
        {"image/x-cmu-raster", {"ras"}},
        {"image/x-portable-anymap", {"pnm"}},
        {"image/x-portable-bitmap", {"pbm"}},
        {"image/x-portable-graymap", {"pgm"}},
        {"image/x-portable-pixmap", {"ppm"}},
        {"image/x-rgb", {"rgb"}},
        {"image/x-xbitmap", {"xbm"}},
        {"image/x-xpixmap", {"xpm"}},
        {"image/x-xwindowdump", {"xwd"}},
        {"text/richtext", {"rtx"}},
        {"text/tab-separated-values", {"tsv"}},
        {"text/x-setext", {"etx"}},
        {"application/x-perfmon", {"pmc", "pma", "pmr", "pml", "pmw"}},
        {"application/x-javascript", {"js"}},
    };
    std::vector<CMimeMap::Entry> table;
    for (const TypeRow& row : kRows) {
        for (const char* extension : row.m_extensions) {
            table.push_back({extension, row.m_type});
        }
    }
    return table;
}

}  // namespace

const std::vector<CMimeMap::Entry>& CMimeMap::BuiltIn() {
    static const std::vector<Entry> table = BuildTable();
    return table;
}

void CMimeMap::Set(const std::string& extension, const std::string& contentType) {
    for (Entry& entry : m_entries) {
        if (AsciiEqualNoCase(entry.m_extension, extension)) {
            entry.m_contentType = contentType;
            return;
        }
    }
    m_entries.push_back({extension, contentType});
}

bool CMimeMap::Remove(const std::string& extension) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (AsciiEqualNoCase(it->m_extension, extension)) {
            m_entries.erase(it);
            return true;
        }
    }
    return false;
}

const std::string* CMimeMap::Find(const std::string& extension) const {
    for (const Entry& entry : m_entries) {
        if (AsciiEqualNoCase(entry.m_extension, extension)) {
            return &entry.m_contentType;
        }
    }
    return nullptr;
}

std::string CMimeMap::ContentTypeFor(const std::string& extension) const {
    if (const std::string* type = Find(extension)) {
        return *type;
    }
    if (const std::string* type = Find("*")) {
        return *type;
    }
    return "application/octet-stream";
}

std::string CMimeMap::ContentTypeForFile(const std::string& fileName) const {
    const size_t dot = fileName.rfind('.');
    return ContentTypeFor(dot == std::string::npos ? std::string() : fileName.substr(dot + 1));
}

std::string CMimeMap::ExtensionForType(const std::string& contentType) const {
    for (const Entry& entry : m_entries) {
        if (entry.m_extension != "*" && AsciiEqualNoCase(entry.m_contentType, contentType)) {
            return entry.m_extension;
        }
    }
    return std::string();
}

void CMimeMap::FillDefaults() {
    m_entries = BuiltIn();
}
