#pragma once

#include <string>

// The system's own text for an error number (errno), as strerror gives it but safe from any
// thread; empty when the system has no text for it.
std::string SystemErrorText(int code);

// The text the log and error messages show for a system error number (errno):
// "Error [<code>]: <system text>" followed by CR LF, the line break that system message
// texts end with. Thread-safe; never fails: "FormatMessage Failed" stands in for a code the
// system has no text for.
std::string FormatSystemError(int code);
