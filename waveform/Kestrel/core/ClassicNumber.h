// Reading a decimal number in the "C" locale, so that it reads with its point
// as the decimal separator whatever locale the host or the toolkit put the
// process in. One file a platform: ClassicNumber.cpp, WinClassicNumber.cpp.
#pragma once

#include <string>

namespace kestrel {

// `number` (already checked to be a decimal number) as strtod reads it in
// the "C" locale: an overflow gives an infinity.
double ReadClassicNumber(const std::string& number);

}  // namespace kestrel
