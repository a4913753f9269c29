// Table set-up scripts: split into statements the way the set-up dialog runs them, and run
// one statement at a time against an open connection.
#pragma once

#include <functional>
#include <string>
#include <vector>

class COdbcConnection;

// The statements of a script. Outside a block (which a "trigger", "package", "function" or
// "procedure" anywhere in the text starts) comments are dropped, runs of white space become
// one blank and ';' ends a statement. A line that starts with "go" or "/" followed by a line
// end ends a statement anywhere. Trailing white space is removed, empty statements are
// dropped, and text after the last statement end is not a statement.
std::vector<std::string> SplitSqlScript(const std::string& text);

// Runs the statements in order. `status` sees each statement before it runs; on a failure
// `goOn` gets the error text followed by "\nWould you like to continue?" and decides. True
// when the end of the script was reached.
bool RunSqlScript(const std::string& text, COdbcConnection& db,
                  const std::function<void(const std::string&)>& status,
                  const std::function<bool(const std::string&)>& goOn);

// A script file's whole text; false with "Failed to open file: <path>" when it cannot be read.
bool LoadSqlScript(const std::string& path, std::string& text, std::string& error);
