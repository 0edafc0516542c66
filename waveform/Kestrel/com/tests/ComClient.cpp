// A C++ client of Kestrel.dll, as a Windows host is written: widl's header
// of the type library, the class registry and the library's own entry
// points. Run under Wine by com-tests.sh:
//   ComClient registered <Kestrel.dll>  after regsvr32: creation by CLSID and
//       through DllGetClassObject, the members by IDispatch::Invoke and through
//       the dual vtable, unloading, the type library and the version block;
//   ComClient rollback <Kestrel.dll>    while unregistered: a registration
//       that fails part way leaves nothing of itself behind.
// Exits 0 when every check holds; each failed check is printed.
#include <windows.h>
// after windows.h
#include <olectl.h>

#include <cstdio>
#include <cwchar>
#include <string>

// widl's header, its GUIDs defined here.
#include <initguid.h>
// after initguid.h
#include "Kestrel_h.h"

namespace {

int failures = 0;

void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "FAIL %s\n", what);
        ++failures;
    }
}

// An owned VARIANT.
struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    ~Variant() { VariantClear(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

bool IsString(const VARIANT& value, const wchar_t* text) {
    return value.vt == VT_BSTR && value.bstrVal != nullptr && std::wcscmp(value.bstrVal, text) == 0;
}

// The client's view of the server's entry points, from the file itself.
struct Library {
    HMODULE module = nullptr;
    decltype(&DllGetClassObject) getClassObject = nullptr;
    decltype(&DllCanUnloadNow) canUnloadNow = nullptr;
    decltype(&DllRegisterServer) registerServer = nullptr;

    explicit Library(const wchar_t* path) : module(LoadLibraryW(path)) {
        if (module == nullptr)
            return;
        getClassObject = reinterpret_cast<decltype(getClassObject)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        registerServer = reinterpret_cast<decltype(registerServer)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    }
    ~Library() {
        if (module != nullptr)
            FreeLibrary(module);
    }
    bool Loaded() const {
        return getClassObject != nullptr && canUnloadNow != nullptr && registerServer != nullptr;
    }
};

// Invokes a member by name; arguments last first, as DISPPARAMS holds them.
HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arguments, UINT count,
             VARIANT* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPID put = DISPID_PROPERTYPUT;
    const bool assigns = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params = {arguments, assigns ? &put : nullptr, count, assigns ? 1u : 0u};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr,
                          nullptr);
}

// Execute through the vtable returns true (all bits set) and leaves its
// in/out arguments as they were passed.
bool ExecuteHoldsToItsContract(_CWaveform* waveform) {
    LONG action = 5;
    Variant data;
    data.vt = VT_BSTR;
    data.bstrVal = SysAllocString(L"data");
    VARIANT_BOOL done = VARIANT_FALSE;
    return waveform->Execute(&action, &data, &done) == S_OK && done == VARIANT_TRUE &&
           action == 5 && IsString(data, L"data");
}

void ChecksThroughVtable(_CWaveform* waveform, _CWaveform* other) {
    BSTR id = nullptr;
    Check(waveform->get_ComponentID(&id) == S_OK && id != nullptr &&
              std::wcscmp(id, L"KR470A Firmware Update") == 0,
          "vtable: ComponentID is \"KR470A Firmware Update\"");
    SysFreeString(id);
    LONG number = 0;
    Check(waveform->get_CountryCode(&number) == S_OK && number == 1, "vtable: CountryCode is 1");
    Check(waveform->put_CountryCode(7) == S_OK && waveform->get_CountryCode(&number) == S_OK &&
              number == 1,
          "vtable: CountryCode set to 7 still reads 1");
    Check(waveform->get_WaveFormResult(&number) == S_OK && number == 2,
          "vtable: WaveFormResult is 2");
    Variant type;
    Check(waveform->get_CType(&type) == S_OK && type.vt == VT_I2 && type.iVal == 0,
          "vtable: CType is a 16-bit integer 0");

    Variant module;
    Check(waveform->get_Module(&module) == S_OK && module.vt == VT_EMPTY,
          "vtable: module starts Empty");
    Variant number42;
    number42.vt = VT_I4;
    number42.lVal = 42;
    Variant back;
    Check(waveform->put_Module(number42) == S_OK && waveform->get_Module(&back) == S_OK &&
              back.vt == VT_I4 && back.lVal == 42,
          "vtable: module set to 42 reads 42");
    Variant object;
    object.vt = VT_DISPATCH;
    object.pdispVal = other;
    other->AddRef();
    Variant objectBack;
    Check(waveform->putref_Module(object) == S_OK && waveform->get_Module(&objectBack) == S_OK &&
              objectBack.vt == VT_DISPATCH && objectBack.pdispVal == other,
          "vtable: module set to an object reads the same object");

    Check(ExecuteHoldsToItsContract(waveform),
          "vtable: Execute returns true (all bits set) and leaves its arguments as passed");
}

void ChecksByName(IDispatch* waveform) {
    Variant id;
    Check(Call(waveform, L"componentid", DISPATCH_PROPERTYGET, nullptr, 0, &id) == S_OK &&
              IsString(id, L"KR470A Firmware Update"),
          "Invoke: componentid (any case) is \"KR470A Firmware Update\"");
    Variant seven;
    seven.vt = VT_I2;
    seven.iVal = 7;
    Variant country;
    Check(Call(waveform, L"CountryCode", DISPATCH_PROPERTYPUT, &seven, 1, nullptr) == S_OK &&
              Call(waveform, L"CountryCode", DISPATCH_PROPERTYGET, nullptr, 0, &country) == S_OK &&
              country.vt == VT_I4 && country.lVal == 1,
          "Invoke: CountryCode set to 7 still reads 1");
    Variant text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"text");
    Variant module;
    Check(Call(waveform, L"Module", DISPATCH_PROPERTYPUT, &text, 1, nullptr) == S_OK &&
              Call(waveform, L"module", DISPATCH_PROPERTYGET, nullptr, 0, &module) == S_OK &&
              IsString(module, L"text"),
          "Invoke: module set to a string reads the string");

    // In/out arguments by reference, as a script passes its variables.
    LONG action = 9;
    Variant data;
    data.vt = VT_R8;
    data.dblVal = 2.5;
    VARIANT arguments[2];  // last first
    arguments[0].vt = VT_BYREF | VT_VARIANT;
    arguments[0].pvarVal = &data;
    arguments[1].vt = VT_BYREF | VT_I4;
    arguments[1].plVal = &action;
    Variant done;
    Check(Call(waveform, L"Execute", DISPATCH_METHOD, arguments, 2, &done) == S_OK &&
              done.vt == VT_BOOL && done.boolVal == VARIANT_TRUE,
          "Invoke: Execute by reference returns True");
    Check(action == 9 && data.vt == VT_R8 && data.dblVal == 2.5,
          "Invoke: Execute leaves its by-reference arguments as passed");
}

void ChecksByClsid() {
    _CWaveform* waveform = nullptr;
    _CWaveform* other = nullptr;
    Check(CoCreateInstance(CLSID_CWaveform, nullptr, CLSCTX_INPROC_SERVER, IID__CWaveform,
                           reinterpret_cast<void**>(&waveform)) == S_OK &&
              CoCreateInstance(CLSID_CWaveform, nullptr, CLSCTX_INPROC_SERVER, IID__CWaveform,
                               reinterpret_cast<void**>(&other)) == S_OK,
          "CoCreateInstance by CLSID makes the object");
    if (waveform == nullptr || other == nullptr)
        return;
    ChecksThroughVtable(waveform, other);
    ChecksByName(waveform);
    Variant module;
    Check(other->get_Module(&module) == S_OK && module.vt == VT_EMPTY,
          "a second object keeps its own module (Empty)");
    waveform->Release();
    other->Release();
}

void ChecksThroughClassObject(const wchar_t* path) {
    Library library(path);
    Check(library.Loaded(), "LoadLibrary and GetProcAddress find the entry points");
    if (!library.Loaded())
        return;
    IClassFactory* factory = nullptr;
    Check(library.getClassObject(IID__CWaveform, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)) == CLASS_E_CLASSNOTAVAILABLE,
          "DllGetClassObject refuses another CLSID");
    Check(library.getClassObject(CLSID_CWaveform, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)) == S_OK,
          "DllGetClassObject gives the class object");
    if (factory == nullptr)
        return;
    IUnknown* outer = factory;
    IUnknown* aggregated = nullptr;
    Check(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&aggregated)) ==
              CLASS_E_NOAGGREGATION,
          "CreateInstance refuses aggregation");
    IDispatch* waveform = nullptr;
    Check(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&waveform)) ==
              S_OK,
          "the class object makes the object");
    Check(library.canUnloadNow() == S_FALSE, "DllCanUnloadNow is S_FALSE while objects live");
    Variant result;
    if (waveform != nullptr) {
        Check(
            Call(waveform, L"WaveFormResult", DISPATCH_PROPERTYGET, nullptr, 0, &result) == S_OK &&
                result.vt == VT_I4 && result.lVal == 2,
            "Invoke: WaveFormResult is 2");
        waveform->Release();
    }
    factory->LockServer(TRUE);
    factory->Release();
    Check(library.canUnloadNow() == S_FALSE, "DllCanUnloadNow is S_FALSE while locked");
    IClassFactory* again = nullptr;
    if (library.getClassObject(CLSID_CWaveform, IID_IClassFactory,
                               reinterpret_cast<void**>(&again)) == S_OK) {
        again->LockServer(FALSE);
        again->Release();
    }
    Check(library.canUnloadNow() == S_OK, "DllCanUnloadNow is S_OK after the last release");
}

// From a multithreaded apartment the apartment-threaded object lives in a
// host apartment of COM's, reached through a proxy that the type library
// (registered under locale 0) describes: in/out arguments cross both ways.
DWORD WINAPI ChecksAcrossApartments(void*) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    _CWaveform* waveform = nullptr;
    if (CoCreateInstance(CLSID_CWaveform, nullptr, CLSCTX_INPROC_SERVER, IID__CWaveform,
                         reinterpret_cast<void**>(&waveform)) == S_OK) {
        LONG result = 0;
        Check(waveform->get_WaveFormResult(&result) == S_OK && result == 2,
              "proxy: WaveFormResult is 2");
        Check(ExecuteHoldsToItsContract(waveform),
              "proxy: Execute returns true and leaves its arguments as passed");
        waveform->Release();
    } else {
        Check(false, "proxy: CoCreateInstance from a multithreaded apartment");
    }
    CoUninitialize();
    return 0;
}

void ChecksFromAnotherApartment() {
    HANDLE thread = CreateThread(nullptr, 0, ChecksAcrossApartments, nullptr, 0, nullptr);
    if (thread == nullptr) {
        Check(false, "proxy: a thread for the multithreaded apartment");
        return;
    }
    // This apartment's messages must flow while the other thread waits on it.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    DWORD code = 1;
    Check(GetExitCodeThread(thread, &code) && code == 0, "proxy: the other apartment's checks ran");
    CloseHandle(thread);
}

// The type library as a host's tools read it, from the file and as registered
// under locale 0.
void ChecksOfTypeLibrary(const wchar_t* path) {
    ITypeLib* library = nullptr;
    Check(LoadRegTypeLib(LIBID_Kestrel, 1, 0, 0, &library) == S_OK,
          "the type library is registered under locale 0");
    if (library != nullptr)
        library->Release();
    library = nullptr;
    if (LoadTypeLibEx(path, REGKIND_NONE, &library) != S_OK) {
        Check(false, "the type library loads from the file");
        return;
    }
    ITypeInfo* dispatch = nullptr;
    ITypeInfo* vtable = nullptr;
    HREFTYPE reference = 0;
    TYPEATTR* attributes = nullptr;
    if (library->GetTypeInfoOfGuid(IID__CWaveform, &dispatch) == S_OK &&
        dispatch->GetRefTypeOfImplType(-1, &reference) == S_OK &&
        dispatch->GetRefTypeInfo(reference, &vtable) == S_OK &&
        vtable->GetTypeAttr(&attributes) == S_OK) {
        const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE;
        Check((attributes->wTypeFlags & flags) == flags,
              "_CWaveform is dual, hidden, nonextensible");
        std::wstring order;
        for (UINT i = 0; i < attributes->cFuncs; ++i) {
            FUNCDESC* function = nullptr;
            BSTR name = nullptr;
            if (vtable->GetFuncDesc(i, &function) != S_OK)
                continue;
            vtable->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr);
            order += std::wstring(name != nullptr ? name : L"?") + L"/" +
                     std::to_wstring(function->invkind) + L" ";
            SysFreeString(name);
            vtable->ReleaseFuncDesc(function);
        }
        Check(order ==
                  L"Module/2 Module/4 Module/8 getWaveform/1 ComponentID/2 CountryCode/2 "
                  L"CountryCode/4 WaveFormResult/2 CType/2 Execute/1 ",
              "_CWaveform's members are in slot order");
        vtable->ReleaseTypeAttr(attributes);
    } else {
        Check(false, "the type library describes _CWaveform");
    }
    if (vtable != nullptr)
        vtable->Release();
    if (dispatch != nullptr)
        dispatch->Release();
    library->Release();
}

std::wstring VersionString(const std::wstring& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\040904B0\\" + std::wstring(name);
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || value == nullptr)
        return L"(none)";
    return static_cast<const wchar_t*>(value);
}

void ChecksOfVersionBlock(const wchar_t* path) {
    const DWORD size = GetFileVersionInfoSizeW(path, nullptr);
    std::wstring block(size / sizeof(wchar_t) + 1, L'\0');
    if (size == 0 || !GetFileVersionInfoW(path, 0, size, block.data())) {
        Check(false, "the library has a version block");
        return;
    }
    Check(VersionString(block, L"FileVersion") == L"1.00.0010" &&
              VersionString(block, L"ProductName") == L"Kestrel" &&
              VersionString(block, L"OriginalFilename") == L"Kestrel.dll" &&
              VersionString(block, L"OLESelfRegister") == L"",
          "the version block holds 1.00.0010, Kestrel, Kestrel.dll and OLESelfRegister");
}

bool KeyExists(const wchar_t* key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// A key registration cannot write below (a volatile key takes no lasting
// subkeys) makes it fail after most entries: they must all go again.
void ChecksOfRollback(const wchar_t* path) {
    Check(!KeyExists(L"CLSID\\{3549DEA1-DB32-4646-B8BC-88B3008D3567}"),
          "rollback: the class is not registered beforehand");
    HKEY blocker = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Kestrel.CWaveform", 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &blocker, nullptr) != ERROR_SUCCESS) {
        Check(false, "rollback: the volatile ProgID key can be made");
        return;
    }
    RegCloseKey(blocker);
    {
        Library library(path);
        Check(library.Loaded() && library.registerServer() == SELFREG_E_CLASS,
              "rollback: DllRegisterServer returns SELFREG_E_CLASS");
    }
    Check(!KeyExists(L"CLSID\\{3549DEA1-DB32-4646-B8BC-88B3008D3567}") &&
              !KeyExists(L"TypeLib\\{1C01D5E5-A51D-4A1E-AE81-C01203C6DBF2}") &&
              !KeyExists(L"Interface\\{06E73E1D-9178-4D61-81D9-C5DE3EA3A42F}"),
          "rollback: no class, type library or interface key is left");
    DWORD size = 0;
    Check(KeyExists(L"Kestrel.CWaveform") &&
              RegGetValueW(HKEY_CLASSES_ROOT, L"Kestrel.CWaveform", nullptr, RRF_RT_ANY, nullptr,
                           nullptr, &size) == ERROR_FILE_NOT_FOUND,
          "rollback: the key it did not make stays, without the value it wrote");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Kestrel.CWaveform");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ComClient registered|rollback <Kestrel.dll>\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    const wchar_t* path = argv[2];
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "FAIL CoInitializeEx\n");
        return 1;
    }
    if (mode == L"registered") {
        ChecksByClsid();
        ChecksThroughClassObject(path);
        // Last: COM keeps the class object it got in its host apartment for
        // later requests, so the library stays in use after this.
        ChecksFromAnotherApartment();
        ChecksOfTypeLibrary(path);
        ChecksOfVersionBlock(path);
    } else if (mode == L"rollback") {
        ChecksOfRollback(path);
    } else {
        Check(false, "known mode");
    }
    CoUninitialize();
    std::printf("%d checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
