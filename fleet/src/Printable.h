// Text from a plan or an instrument as the tool shows or logs it: a control
// byte could move the cursor, clear the screen, retitle the terminal of
// whoever reads a log, or break a table's rows.
#pragma once

#include <string>

namespace fleet {

// The text with every control byte (below 0x20, and 0x7f) made '?', and so
// each C1 control written in UTF-8 (U+0080 to U+009F, CSI and OSC among them).
std::string Printable(const std::string& text);

}  // namespace fleet
