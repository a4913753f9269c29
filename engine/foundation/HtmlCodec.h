#pragma once

#include <string>

// Escapes text for HTML output in place: "&" "<" ">" and the double quote become entities.
// With `newlines`, CR is dropped and LF becomes "<br>" CR LF, but only when the text is
// rewritten anyway: a text whose only special characters are CRs, or that has none, is left
// exactly as it is. Throws CSspException "Out of memory" when the new text cannot be had.
void HtmlEscape(std::string& text, bool newlines);
