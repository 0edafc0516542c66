#include "ComTypes.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A BSTR's block: the byte length, the characters, a NUL character.
constexpr size_t kLengthPrefix = sizeof(uint32_t);

bool IsObject(VARTYPE type) {
    return type == VT_DISPATCH || type == VT_UNKNOWN;
}

// Bytes of the value a Variant of this type holds in itself; 0 for the types
// that hold a string, an object or nothing, and for those not offered here.
size_t ScalarBytes(VARTYPE type) {
    switch (type) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_DATE:
        case VT_CY:
        case VT_I8:
        case VT_UI8:
            return 8;
        default:
            return 0;
    }
}

bool IsOffered(VARTYPE type) {
    if ((type & VT_BYREF) != 0) {
        const auto base = static_cast<VARTYPE>(type & ~VT_BYREF);
        return base == VT_VARIANT || base == VT_BSTR || IsObject(base) || ScalarBytes(base) > 0;
    }
    return type == VT_EMPTY || type == VT_NULL || type == VT_BSTR || IsObject(type) ||
           ScalarBytes(type) > 0;
}

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    const size_t bytes = size_t{length} * sizeof(OLECHAR);
    if (bytes > UINT32_MAX - kLengthPrefix - sizeof(OLECHAR))
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kLengthPrefix + bytes + sizeof(OLECHAR)));
    if (block == nullptr)
        return nullptr;
    const uint32_t prefix = static_cast<uint32_t>(bytes);
    std::memcpy(block, &prefix, kLengthPrefix);
    auto* characters = reinterpret_cast<OLECHAR*>(block + kLengthPrefix);
    if (text != nullptr)
        std::memcpy(characters, text, bytes);
    else
        std::memset(characters, 0, bytes);
    characters[length] = u'\0';
    return characters;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr)
        return nullptr;
    UINT length = 0;
    while (text[length] != u'\0')
        ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text != nullptr)
        std::free(reinterpret_cast<unsigned char*>(text) - kLengthPrefix);
}

UINT SysStringByteLen(BSTR text) {
    if (text == nullptr)
        return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - kLengthPrefix, kLengthPrefix);
    return bytes;
}

UINT SysStringLen(BSTR text) {
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

void VariantInit(VARIANT* value) {
    std::memset(value, 0, sizeof(VARIANT));
}

HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr)
        return E_INVALIDARG;
    if (value->vt == VT_BSTR)
        SysFreeString(value->bstrVal);
    else if (IsObject(value->vt) && value->punkVal != nullptr)
        value->punkVal->Release();
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
    if (destination == nullptr || source == nullptr)
        return E_INVALIDARG;
    if (destination == source)
        return S_OK;
    if (!IsOffered(source->vt))
        return DISP_E_TYPEMISMATCH;  // a copy of its pointer would dangle
    VARIANT copy = *source;
    if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (copy.bstrVal == nullptr)
            return E_OUTOFMEMORY;
    } else if (IsObject(source->vt) && source->punkVal != nullptr) {
        source->punkVal->AddRef();
    }
    VariantClear(destination);
    *destination = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* destination, const VARIANT* source) {
    if (source == nullptr || destination == nullptr)
        return E_INVALIDARG;
    if ((source->vt & VT_BYREF) == 0)
        return VariantCopy(destination, source);
    if (source->byref == nullptr)
        return E_INVALIDARG;
    if (!IsOffered(source->vt))
        return DISP_E_TYPEMISMATCH;
    const auto base = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
    if (base == VT_VARIANT) {
        if ((source->pvarVal->vt & VT_BYREF) != 0)
            return E_INVALIDARG;  // one level of reference only
        return VariantCopy(destination, source->pvarVal);
    }
    VARIANT direct;
    VariantInit(&direct);
    direct.vt = base;
    if (base == VT_BSTR)
        direct.bstrVal = *source->pbstrVal;
    else if (IsObject(base))
        direct.punkVal = *source->ppunkVal;
    else
        std::memcpy(&direct.llVal, source->byref, ScalarBytes(base));
    return VariantCopy(destination, &direct);
}

}  // extern "C"

bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

namespace kcom {

std::string ToString(const GUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::optional<GUID> ParseGuid(const std::string& text) {
    // {8-4-4-4-12}, hexadecimal digits in either case.
    static constexpr const char* kShape = "{hhhhhhhh-hhhh-hhhh-hhhh-hhhhhhhhhhhh}";
    if (text.size() != std::strlen(kShape))
        return std::nullopt;
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == 'h') {
            if (!std::isxdigit(static_cast<unsigned char>(text[i])))
                return std::nullopt;
            digits.push_back(text[i]);
        } else if (text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    auto hex = [&](size_t at, size_t count) {
        return std::strtoull(digits.substr(at, count).c_str(), nullptr, 16);
    };
    GUID guid;
    guid.Data1 = static_cast<uint32_t>(hex(0, 8));
    guid.Data2 = static_cast<uint16_t>(hex(8, 4));
    guid.Data3 = static_cast<uint16_t>(hex(12, 4));
    for (size_t i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<uint8_t>(hex(16 + 2 * i, 2));
    return guid;
}

std::u16string ToUtf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        uint32_t code = 0xFFFD;
        size_t length = byte < 0x80         ? 1
                        : byte >> 5 == 0x6  ? 2
                        : byte >> 4 == 0xE  ? 3
                        : byte >> 3 == 0x1E ? 4
                                            : 0;
        if (length == 0 || i + length > utf8.size()) {
            ++i;  // a stray or cut byte becomes the replacement character
        } else {
            code = length == 1 ? byte : byte & (0x7F >> length);
            for (size_t k = 1; k < length; ++k)
                code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            i += length;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::string ToUtf8(const OLECHAR* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

std::string ToUtf8(BSTR text) {
    return text == nullptr ? std::string() : ToUtf8(text, SysStringLen(text));
}

namespace {

// A number written in a string: blanks around it, an optional sign, decimal
// digits with a point and an exponent.
std::optional<double> ParseNumber(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    if (text[first] == '+' && first < last)
        ++first;
    double value = 0;
    const char* end = text.data() + last + 1;
    auto [stop, error] = std::from_chars(text.data() + first, end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// The value of a Variant holding a number, or nothing.
std::optional<double> NumberOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY:
            return 0.0;
        case VT_I1:
            return v.cVal;
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_BOOL:
            return v.boolVal;
        case VT_I4:
        case VT_INT:
            return v.lVal;
        case VT_UI4:
        case VT_UINT:
            return v.ulVal;
        case VT_I8:
            return static_cast<double>(v.llVal);
        case VT_UI8:
            return static_cast<double>(v.ullVal);
        case VT_R4:
            return v.fltVal;
        case VT_R8:
        case VT_DATE:
            return v.dblVal;
        case VT_CY:
            return static_cast<double>(v.cyVal.int64) / 10000.0;
        case VT_BSTR:
            return ParseNumber(ToUtf8(v.bstrVal));
        default:
            return std::nullopt;  // Null, error codes, objects
    }
}

}  // namespace

HRESULT ToInt32(const VARIANT& value, int32_t& number) {
    VARIANT direct;
    VariantInit(&direct);
    if (HRESULT hr = VariantCopyInd(&direct, &value); FAILED(hr))
        return hr == E_INVALIDARG ? E_INVALIDARG : DISP_E_TYPEMISMATCH;
    std::optional<double> found = NumberOf(direct);
    VariantClear(&direct);
    if (!found)
        return DISP_E_TYPEMISMATCH;
    const double rounded = std::nearbyint(*found);  // half to even, as assignments round
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX))
        return DISP_E_OVERFLOW;
    number = static_cast<int32_t>(rounded);
    return S_OK;
}

BSTR AllocString(const std::string& utf8) {
    std::u16string wide = ToUtf16(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace kcom
