// Text from a plan or an instrument as the tool shows or logs it: a control
// byte could move the cursor, clear the screen, retitle the terminal of
// whoever reads a log, or break a table's rows.
#pragma once

#include <string>

namespace fleet {

// The text with every control byte (below 0x20, and 0x7f) made '?'.
std::string Printable(std::string text);

}  // namespace fleet
