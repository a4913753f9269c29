// Whole-file reads and writes for tests that set up or inspect files.
#pragma once

#include <string>
#include <vector>

// The file's bytes, or empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content (its folder must exist); false when it could not.
bool WriteFile(const std::string& path, const std::string& bytes);
// File names of a folder (no "." and ".."), sorted; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& folder);
bool Exists(const std::string& path);
