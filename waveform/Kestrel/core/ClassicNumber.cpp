// The "C" locale of a POSIX system, made once.
#include "ClassicNumber.h"

#include <locale.h>
#include <stdlib.h>

namespace kestrel {

double ReadClassicNumber(const std::string& number) {
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(number.c_str(), nullptr, classic);
}

}  // namespace kestrel
