#pragma once

#include <string>

// The installation root: the parent of the folder that holds the running program
// (/proc/self/exe), without a trailing '/'. Empty text when the program lies in "/" itself or
// its path cannot be read; used as a prefix ("" + "/etc") it then stands for "/".
std::string GetRootFolder();

// The parent of the folder of `programPath` ("/opt/v/bin/Tallgrove" gives "/opt/v"); empty
// text when there is none.
std::string RootFolderOf(const std::string& programPath);

// Replaces the process's root folder once, at start-up, before any engine object reads it
// (the studio's own root choice). False, changing nothing, on every later call.
bool SetRootFolder(const std::string& rootFolder);

// The root folder of the process, computed once at start-up.
extern const std::string& g_rootDir;
