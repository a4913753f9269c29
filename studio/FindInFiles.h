// Find in files: every file under a folder whose extension is in a filter, searched for a
// text line by line (ASCII case ignored), one result row per matching line.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Takes each row as it is found: "{", the results and errors, the closing rows, "}".
using FindResultSink = std::function<void(const std::string& row)>;

// The extensions of a file-types text: every run of letters and digits becomes "." + the
// run; everything else separates (".zrp; .zrs" and "zrp,zrs" alike give .zrp and .zrs).
std::vector<std::string> ParseFileTypes(const std::string& fileTypes);

// The whole search as the find thread runs it: "{", the walk of `folder` (when `text` is not
// empty), "User canceled find in files." when `stop` was set, "%d occurrence(s) have been
// found", "}". Rows of a file: "<path> (<line>): <line text>" for the first match of a line,
// "Skipping <path> because it is a binary file" at a NUL byte, "Error [<errno>]: <text>"
// when it cannot be read. File names are lower-cased before their extension is compared.
// Links to folders are not followed. `stop` is read between entries and bytes.
void FindInFiles(const std::string& text, const std::string& fileTypes, const std::string& folder,
                 const std::atomic<bool>& stop, const FindResultSink& sink);

// Splits a result row at its first "):" into the file path and the line number. False for
// rows that name no line (the count, the status rows).
bool SplitFindResult(const std::string& row, std::string& path, int& line);
