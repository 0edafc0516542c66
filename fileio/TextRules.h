// The small text rules every reader of our own files shares: what counts as
// blank around a word, and how names compare (ASCII case ignored).
#pragma once

#include <string>
#include <string_view>

namespace fileio {

// `text` without the blanks (space, tab, CR, LF, FF, VT) at either end.
std::string_view Trim(std::string_view text);

// `text` with its ASCII letters in upper case.
std::string Upper(std::string_view text);

// True when `a` and `b` differ in the case of ASCII letters at most.
bool SameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace fileio
