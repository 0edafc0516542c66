#include "Dispatch.h"

#include <algorithm>
#include <cstdio>

namespace host {

HRESULT CallByName(IDispatch* object, const std::u16string& name, WORD flags,
                   std::vector<VARIANT> arguments, VARIANT* result) {
    std::u16string copy = name;
    OLECHAR* names[] = {copy.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id);
    if (FAILED(hr))
        return hr;
    std::reverse(arguments.begin(), arguments.end());  // the interface takes them last first
    DISPID putId = DISPID_PROPERTYPUT;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params = {arguments.data(), put ? &putId : nullptr,
                         static_cast<UINT>(arguments.size()), put ? 1u : 0u};
    return object->Invoke(id, IID_NULL, 0x409, flags, &params, result, nullptr, nullptr);
}

std::string PropertyText(IDispatch* object, const std::u16string& name) {
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = CallByName(object, name, DISPATCH_PROPERTYGET, {}, &value);
    std::string text;
    if (FAILED(hr))
        text = DescribeResult(hr);
    else if (value.vt == VT_BSTR)
        text = kcom::ToUtf8(value.bstrVal);
    else if (value.vt == VT_I4)
        text = std::to_string(value.lVal);
    else if (value.vt == VT_I2)
        text = std::to_string(value.iVal) + " (16-bit)";
    else if (value.vt == VT_BOOL)
        text = value.boolVal ? "True" : "False";
    else
        text = "(type " + std::to_string(value.vt) + ")";
    VariantClear(&value);
    return text;
}

std::string DescribeResult(HRESULT result) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(result));
    return text;
}

}  // namespace host
