#include "CWaveform.h"

#include <array>
#include <string_view>

#include "ComPlatform.h"
#include "HostWindow.h"

namespace kestrel {
namespace {

constexpr const OLECHAR* kComponentId = OLESTR("KR470A Firmware Update");
constexpr int32_t kCountryCode = 1;
constexpr int32_t kWaveFormResult = 2;

using OleStringView = std::basic_string_view<OLECHAR>;

struct Member {
    OleStringView name;
    DISPID id;
};
constexpr std::array<Member, 7> kMembers = {{{OLESTR("module"), DISPID_module},
                                             {OLESTR("getWaveform"), DISPID_getWaveform},
                                             {OLESTR("ComponentID"), DISPID_ComponentID},
                                             {OLESTR("CountryCode"), DISPID_CountryCode},
                                             {OLESTR("WaveFormResult"), DISPID_WaveFormResult},
                                             {OLESTR("CType"), DISPID_CType},
                                             {OLESTR("Execute"), DISPID_Execute}}};

OLECHAR Fold(OLECHAR c) {
    return c >= OLESTR('A') && c <= OLESTR('Z')
               ? static_cast<OLECHAR>(c - OLESTR('A') + OLESTR('a'))
               : c;
}

bool SameName(OleStringView a, const OLECHAR* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        if (b[i] == u'\0' || Fold(a[i]) != Fold(b[i]))
            return false;
    }
    return b[i] == u'\0';
}

// The parameters of the methods, by position, for named arguments.
DISPID ParameterId(DISPID member, const OLECHAR* name) {
    OleStringView first = member == DISPID_getWaveform ? OLESTR("wform") : OLESTR("Action");
    OleStringView second = member == DISPID_getWaveform ? OLESTR("wTime") : OLESTR("data");
    if (member != DISPID_getWaveform && member != DISPID_Execute)
        return DISPID_UNKNOWN;
    return SameName(first, name) ? 0 : SameName(second, name) ? 1 : DISPID_UNKNOWN;
}

// The two arguments of a method in parameter order, from those passed by
// position (last first, after the named ones) and those passed by name (their
// positions in `rgdispidNamedArgs`). A position given twice or unknown is
// refused, `argumentError` naming the argument.
HRESULT ArgumentsByPosition(const DISPPARAMS& p, std::array<VARIANT*, 2>& byPosition,
                            UINT* argumentError) {
    if (p.cNamedArgs > p.cArgs || (p.cNamedArgs > 0 && p.rgdispidNamedArgs == nullptr))
        return E_INVALIDARG;
    byPosition = {};
    auto refuse = [&](UINT index) {
        if (argumentError != nullptr)
            *argumentError = index;
        return DISP_E_PARAMNOTFOUND;
    };
    for (UINT i = 0; i < p.cNamedArgs; ++i) {
        const DISPID position = p.rgdispidNamedArgs[i];
        if (position < 0 || position >= static_cast<DISPID>(byPosition.size()) ||
            byPosition[position] != nullptr)
            return refuse(i);
        byPosition[position] = &p.rgvarg[i];
    }
    for (UINT k = 0; k < p.cArgs - p.cNamedArgs; ++k) {
        if (k >= byPosition.size() || byPosition[k] != nullptr)
            return refuse(p.cArgs - 1 - k);
        byPosition[k] = &p.rgvarg[p.cArgs - 1 - k];
    }
    return S_OK;
}

// An integer property's value as the result of Invoke.
HRESULT Int32Result(int32_t value, VARIANT* out) {
    out->vt = VT_I4;
    out->lVal = value;
    return S_OK;
}

}  // namespace

std::atomic<long>& LiveObjects() {
    static std::atomic<long> count{0};
    return count;
}

std::atomic<long>& ServerLocks() {
    static std::atomic<long> count{0};
    return count;
}

CWaveform::CWaveform() : countryCode_(kCountryCode) {
    VariantInit(&module_);
    ++LiveObjects();
}

CWaveform::~CWaveform() {
    VariantClear(&module_);
    --LiveObjects();
}

HRESULT CWaveform::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__CWaveform) {
        *object = static_cast<_CWaveform*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CWaveform::AddRef() {
    return ++references_;
}

ULONG CWaveform::Release() {
    ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CWaveform::GetTypeInfoCount(UINT* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;  // no type information is offered; names resolve through GetIDsOfNames
    return S_OK;
}

HRESULT CWaveform::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr)
        *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT CWaveform::GetIDsOfNames(REFIID riid, OLECHAR** names, UINT count, LCID, DISPID* ids) {
    if (!(riid == IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr || count == 0)
        return E_INVALIDARG;
    HRESULT result = S_OK;
    ids[0] = DISPID_UNKNOWN;
    for (const Member& member : kMembers) {
        if (names[0] != nullptr && SameName(member.name, names[0]))
            ids[0] = member.id;
    }
    if (ids[0] == DISPID_UNKNOWN)
        result = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = names[i] != nullptr ? ParameterId(ids[0], names[i]) : DISPID_UNKNOWN;
        if (ids[i] == DISPID_UNKNOWN)
            result = DISP_E_UNKNOWNNAME;
    }
    return result;
}

HRESULT CWaveform::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO*, UINT* argumentError) {
    if (!(riid == IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    DISPPARAMS& p = params != nullptr ? *params : none;
    if (p.cArgs > 0 && p.rgvarg == nullptr)
        return E_INVALIDARG;
    if (result != nullptr)
        VariantInit(result);
    if (member != DISPID_getWaveform && member != DISPID_Execute)
        return InvokeProperty(member, flags, p, result);

    if ((flags & DISPATCH_METHOD) == 0)
        return DISP_E_MEMBERNOTFOUND;
    if (p.cArgs != 2)
        return DISP_E_BADPARAMCOUNT;
    std::array<VARIANT*, 2> arguments;
    if (HRESULT hr = ArgumentsByPosition(p, arguments, argumentError); FAILED(hr))
        return hr;
    // Neither argument is read or changed.
    if (member == DISPID_getWaveform)
        return getWaveform(arguments[0], nullptr);
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = Execute(nullptr, arguments[1], &done);
    if (result != nullptr) {
        result->vt = VT_BOOL;
        result->boolVal = done;
    }
    return hr;
}

HRESULT CWaveform::InvokeProperty(DISPID member, WORD flags, DISPPARAMS& p, VARIANT* result) {
    const bool get = (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0 && p.cArgs == 0;
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0 && p.cArgs == 1;
    const bool putRef = (flags & DISPATCH_PROPERTYPUTREF) != 0 && p.cArgs == 1;
    if (p.cNamedArgs > 1 || (p.cNamedArgs == 1 && (p.rgdispidNamedArgs == nullptr ||
                                                   p.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
        return DISP_E_PARAMNOTFOUND;
    VARIANT ignored;
    VariantInit(&ignored);
    VARIANT* out = result != nullptr ? result : &ignored;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    switch (member) {
        case DISPID_module:
            if (get)
                hr = get_module(out);
            else if (put || putRef)
                hr = VariantCopyInd(&module_, &p.rgvarg[0]);
            break;
        case DISPID_ComponentID:
            if (get) {
                out->vt = VT_BSTR;
                hr = get_ComponentID(&out->bstrVal);
            }
            break;
        case DISPID_CountryCode:
            if (get)
                hr = Int32Result(countryCode_, out);
            else if (put) {
                // Anything that converts to a number is taken (and 1 kept).
                int32_t number = 0;
                hr = VariantToInt32(p.rgvarg[0], number);
                if (SUCCEEDED(hr))
                    hr = put_CountryCode(number);
            }
            break;
        case DISPID_WaveFormResult:
            if (get)
                hr = Int32Result(kWaveFormResult, out);
            break;
        case DISPID_CType:
            if (get)
                hr = get_CType(out);
            break;
        default:
            break;
    }
    VariantClear(&ignored);
    return hr;
}

HRESULT CWaveform::get_module(VARIANT* value) {
    if (value == nullptr)
        return E_POINTER;
    VariantInit(value);
    return VariantCopy(value, &module_);
}

HRESULT CWaveform::put_module(VARIANT value) {
    return VariantCopyInd(&module_, &value);
}

HRESULT CWaveform::putref_module(VARIANT value) {
    return VariantCopyInd(&module_, &value);
}

HRESULT CWaveform::getWaveform(VARIANT*, double*) {
    AddRef();  // the host may drop its reference while the window is open
    HRESULT result = ShowWindowForHost();
    Release();
    return result;
}

HRESULT CWaveform::get_ComponentID(BSTR* value) {
    if (value == nullptr)
        return E_POINTER;
    *value = SysAllocString(kComponentId);
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CWaveform::get_CountryCode(int32_t* value) {
    if (value == nullptr)
        return E_POINTER;
    *value = countryCode_;
    return S_OK;
}

HRESULT CWaveform::put_CountryCode(int32_t) {
    countryCode_ = kCountryCode;  // whatever is assigned
    return S_OK;
}

HRESULT CWaveform::get_WaveFormResult(int32_t* value) {
    if (value == nullptr)
        return E_POINTER;
    *value = kWaveFormResult;
    return S_OK;
}

HRESULT CWaveform::get_CType(VARIANT* value) {
    if (value == nullptr)
        return E_POINTER;
    VariantInit(value);
    value->vt = VT_I2;
    value->iVal = 0;
    return S_OK;
}

HRESULT CWaveform::Execute(int32_t*, VARIANT*, VARIANT_BOOL* result) {
    if (result == nullptr)
        return E_POINTER;
    *result = VARIANT_TRUE;
    return S_OK;
}

}  // namespace kestrel
