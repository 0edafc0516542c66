// Kestrel.dll's entry points, the four its .def file exports: class objects,
// unloading, and registration under HKEY_CLASSES_ROOT with the full path of
// the file as loaded.
#include <olectl.h>

#include <string>

#include "CWaveform.h"
#include "ClassFactory.h"
#include "Registration.h"

namespace {

// This library's full path, wherever the host loaded it from; empty when it
// cannot be had.
std::wstring OwnPath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&OwnPath), &module))
        return L"";
    std::wstring path(MAX_PATH, L'\0');
    while (path.size() <= 32768) {
        const DWORD length =
            GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return L"";
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // cut short: try a larger buffer
    }
    return L"";
}

// The embedded type library loads from the file.
bool TypeLibraryLoads(const std::wstring& path) {
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)))
        return false;
    library->Release();
    return true;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    return kestrel::GetClassObject(clsid, riid, object);
}

STDAPI DllCanUnloadNow() {
    return kestrel::LiveObjects() == 0 && kestrel::ServerLocks() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    const std::wstring path = OwnPath();
    if (path.empty())
        return SELFREG_E_CLASS;
    if (!TypeLibraryLoads(path))
        return SELFREG_E_TYPELIB;
    return kestrel::WriteEntries(HKEY_CLASSES_ROOT, kestrel::RegistrationEntries(path));
}

STDAPI DllUnregisterServer() {
    const std::wstring path = OwnPath();
    // Nothing of this file's is registered: the class belongs to another copy.
    if (kestrel::RegisteredToAnotherFile(HKEY_CLASSES_ROOT, path))
        return S_OK;
    return kestrel::RemoveEntries(HKEY_CLASSES_ROOT, kestrel::RegistrationEntries(path));
}
