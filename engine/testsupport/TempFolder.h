// A fresh folder under /tmp for one test, removed with everything in it.
#pragma once

#include <string>

class CTempFolder {
public:
    CTempFolder();  // throws when no folder can be made
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of name inside the folder.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};
