#pragma once

#include <tuple>

// Puts interpreter state back as it was when the guard was made, however the scope is left,
// so a nested scan or evaluation that throws leaves the caller's position as it found it.
template <typename... T>
class CSspRestoreGuard {
public:
    explicit CSspRestoreGuard(T&... vars) : m_vars(vars...), m_saved(vars...) {}
    ~CSspRestoreGuard() {
        if (m_bArmed) {
            m_vars = m_saved;
        }
    }
    CSspRestoreGuard(const CSspRestoreGuard&) = delete;
    CSspRestoreGuard& operator=(const CSspRestoreGuard&) = delete;

    void Restore() { m_vars = m_saved; }
    // What follows leaves the state as it ends, even where it differs from the saved one.
    void Dismiss() { m_bArmed = false; }

private:
    std::tuple<T&...> m_vars;
    std::tuple<T...> m_saved;
    bool m_bArmed = true;
};
