#pragma once

#include <cstddef>
#include <string_view>

// Writes all `length` bytes to `fd`, carrying on after an interrupted or partial write. False
// when a write fails or writes nothing.
bool WriteAll(int fd, const char* data, std::size_t length);
inline bool WriteAll(int fd, std::string_view data) {
    return WriteAll(fd, data.data(), data.size());
}
