#pragma once

#include <functional>
#include <string>

// Hands a URL or a file to the desktop's default program, for the studio's and the console's
// Browse and Help commands. The desktop's own opener (xdg-open) is started without a wait, in a
// session of its own, so a slow browser never holds the caller's thread.

// The opener the two programs use; tests put one in that records what it was given.
using DesktopOpener = std::function<bool(const std::string& target)>;

// Starts the current opener with `target`. False when it could not be started (xdg-open
// missing, say); the caller shows its own failure text.
bool OpenWithDesktop(const std::string& target);

// Replaces the opener for the whole process and returns the one it replaced; an empty
// function puts back the real one.
DesktopOpener SetDesktopOpener(DesktopOpener opener);
