#pragma once

#include <string>

// Whether SQL text built from page input carries a second command. After the
// statement's first word, every word ended by white space is refused when it
// is exactly update, delete, insert, create, drop or exec (any case), or holds
// "--" or ";". Quoted text belongs to no word; the last word of the text,
// with nothing behind it, is never compared (nor anything after an unclosed
// quote).
bool LooksLikeSqlInjection(const std::string& sql);
