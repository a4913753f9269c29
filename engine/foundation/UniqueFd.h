// Owns one file descriptor and closes it on every path out of a scope.
#pragma once

#include <unistd.h>

class CUniqueFd {
public:
    explicit CUniqueFd(int fd = -1) : m_fd(fd) {}
    ~CUniqueFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;
    CUniqueFd(CUniqueFd&& other) noexcept : m_fd(other.Release()) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    // Closes the descriptor held and holds fd instead.
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

    int Get() const { return m_fd; }

    // Hands the descriptor to the caller, who closes it from then on.
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};
