// The COM types the component's shared code is written against, on Linux:
// kcom's published layout. The Windows server has its own header of this
// name over the Windows headers; both offer the same names.
#pragma once

#include "ComTypes.h"

// An OLECHAR text literal (the Windows headers' macro of the same name).
#define OLESTR(text) u##text

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001);

namespace kestrel {

// A Variant's value as a 32-bit integer, as a typed assignment converts it.
inline HRESULT VariantToInt32(const VARIANT& value, int32_t& number) {
    return kcom::ToInt32(value, number);
}

}  // namespace kestrel
