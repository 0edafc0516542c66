// Decimal conversions used for every number the console updater reads,
// whether from the update file or from an instrument reply.
#pragma once

#include <cstdint>
#include <string_view>

namespace osprey {

// Leading blanks, an optional sign, then digits up to the first other
// character. A text without digits reads as 0. Values beyond the 32-bit range
// saturate instead of wrapping.
int32_t DecimalInteger(std::string_view text);

// As DecimalInteger, with a fractional part allowed ("1.10" reads as 1.1).
double DecimalNumber(std::string_view text);

}  // namespace osprey
