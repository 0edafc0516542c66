#include "ComTypes.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A BSTR's block: the byte length, the characters, a NUL character.
constexpr size_t kLengthPrefix = sizeof(uint32_t);

bool IsObject(VARTYPE type) {
    return type == VT_DISPATCH || type == VT_UNKNOWN;
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
    VARIANT direct;
    VariantInit(&direct);
    direct.vt = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
    switch (direct.vt) {
        case VT_VARIANT:
            return VariantCopyInd(destination, source->pvarVal);
        case VT_I2:
            direct.iVal = *source->piVal;
            break;
        case VT_I4:
            direct.lVal = *source->plVal;
            break;
        case VT_R8:
            direct.dblVal = *source->pdblVal;
            break;
        case VT_BOOL:
            direct.boolVal = *source->pboolVal;
            break;
        case VT_BSTR:
            direct.bstrVal = *source->pbstrVal;
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            direct.punkVal = *source->ppunkVal;
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
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

BSTR AllocString(const std::string& utf8) {
    std::u16string wide = ToUtf16(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace kcom
