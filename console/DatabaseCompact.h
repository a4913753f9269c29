// Compaction of the installation's database file: the file-based database of the default
// data source is SQLite's, compacted with VACUUM.
#pragma once

#include <string>

// Compacts `source` in place, or into `destination` when that is given and differs from it.
// The source must exist and be a SQLite database (it is never created); a destination is
// written under a temporary name beside it and renamed when complete, and one that already
// exists is refused. False with the reason in `error` on failure; nothing is created then.
bool CompactAccessDatabase(const std::string& source, const std::string& destination,
                           std::string& error);
