// The published binary interface of the Kestrel component: its identifiers,
// the dual interface _CWaveform in slot order, its dispatch identifiers, and
// the version block the library exports. This is all a host needs besides
// the component layer's types; it holds no code of the component.
#pragma once

#include "ComTypes.h"

// Fixed once; hosts find the plug-in through them.
inline constexpr GUID LIBID_Kestrel = {
    0x1C01D5E5, 0xA51D, 0x4A1E, {0xAE, 0x81, 0xC0, 0x12, 0x03, 0xC6, 0xDB, 0xF2}};
inline constexpr CLSID CLSID_CWaveform = {
    0x3549DEA1, 0xDB32, 0x4646, {0xB8, 0xBC, 0x88, 0xB3, 0x00, 0x8D, 0x35, 0x67}};
inline constexpr IID IID__CWaveform = {
    0x06E73E1D, 0x9178, 0x4D61, {0x81, 0xD9, 0xC5, 0xDE, 0x3E, 0xA3, 0xA4, 0x2F}};

inline constexpr const char* kKestrelProgId = "Kestrel.CWaveform";

// Dispatch identifiers of the members (the property and its accessors share one).
enum CWaveformDispId : DISPID {
    DISPID_module = 1,
    DISPID_getWaveform = 2,
    DISPID_ComponentID = 3,
    DISPID_CountryCode = 4,
    DISPID_WaveFormResult = 5,
    DISPID_CType = 6,
    DISPID_Execute = 7,
};

// Dual, hidden, non-extensible, Automation-compatible.
struct _CWaveform : IDispatch {
    virtual HRESULT get_module(VARIANT* value) = 0;
    virtual HRESULT put_module(VARIANT value) = 0;
    virtual HRESULT putref_module(VARIANT value) = 0;
    virtual HRESULT getWaveform(VARIANT* wform, double* wTime) = 0;
    virtual HRESULT get_ComponentID(BSTR* value) = 0;
    virtual HRESULT get_CountryCode(int32_t* value) = 0;
    virtual HRESULT put_CountryCode(int32_t value) = 0;
    virtual HRESULT get_WaveFormResult(int32_t* value) = 0;
    virtual HRESULT get_CType(VARIANT* value) = 0;
    virtual HRESULT Execute(int32_t* Action, VARIANT* data, VARIANT_BOOL* result) = 0;
};

// The library's version block, as a host reads it through the exported
// function DllGetVersionBlock (library file libKestrel.so.1.0.0.10, SONAME
// libKestrel.so.1).
extern "C" {
struct ComponentVersionBlock {
    uint16_t fileVersion[4];           // 1, 0, 0, 10
    uint16_t productVersion[4];        // 1, 0, 0, 10
    uint16_t language;                 // 0x0409, US English
    uint16_t codePage;                 // 1200, Unicode
    const char16_t* FileVersion;       // "1.00.0010"
    const char16_t* ProductVersion;    // "1.00.0010"
    const char16_t* ProductName;       // "Kestrel"
    const char16_t* InternalName;      // "Kestrel"
    const char16_t* OriginalFilename;  // "Kestrel.dll"
    const char16_t* OLESelfRegister;   // present (empty): the library registers itself
};
typedef const ComponentVersionBlock* (*DllGetVersionBlockFunction)();
}
