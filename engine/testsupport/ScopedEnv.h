// Sets or clears environment variables for one scope and puts the old values back.
#pragma once

#include <map>
#include <optional>
#include <string>

class CScopedEnv {
public:
    CScopedEnv() = default;
    ~CScopedEnv() { Restore(); }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

    // A null value clears the variable.
    void Set(const char* name, const char* value);
    // Puts every variable back as it was; the guard is empty again.
    void Restore();

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};
