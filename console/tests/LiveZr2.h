// The installation's live data source, written as an earlier console left it.
#pragma once

#include <string>

// Writes zr2 (SQLite3, `database`, with its busy time-out and journal mode) through the
// installer: the driver manager keeps what it read, so a file written behind its back would
// go unseen. The text of `ini` afterwards.
std::string WriteLiveZr2(const std::string& ini, const std::string& database);
