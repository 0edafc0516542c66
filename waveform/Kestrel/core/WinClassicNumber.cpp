// The "C" locale of the Windows C library, made once.
#include <locale.h>
#include <stdlib.h>

#include "ClassicNumber.h"

namespace kestrel {

double ReadClassicNumber(const std::string& number) {
    static const _locale_t classic = _create_locale(LC_ALL, "C");
    return _strtod_l(number.c_str(), nullptr, classic);
}

}  // namespace kestrel
