// The COM names the component's shared code is written against, on Windows:
// the Windows headers' own, and the few the Linux side defines itself.
#pragma once

#include "ComTypes.h"

namespace kestrel {

// A Variant's value as a 32-bit integer, as a typed assignment converts it:
// Empty is 0, a string is read as a number, a reference is followed.
inline HRESULT VariantToInt32(const VARIANT& value, int32_t& number) {
    VARIANT converted;
    VariantInit(&converted);
    // The source is only read; the declaration lacks its const.
    HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4);
    if (SUCCEEDED(hr))
        number = converted.lVal;
    VariantClear(&converted);
    return hr;
}

}  // namespace kestrel
