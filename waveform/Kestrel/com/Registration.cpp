#include "Registration.h"

#include <olectl.h>

#include <array>

#include "CWaveformInterface.h"

namespace kestrel {
namespace {

// The standard marshaler of Automation-compatible interfaces.
constexpr const wchar_t* kAutomationMarshaler = L"{00020424-0000-0000-C000-000000000046}";

std::wstring GuidText(const GUID& guid) {
    std::array<wchar_t, 40> text{};
    StringFromGUID2(guid, text.data(), static_cast<int>(text.size()));
    return text.data();
}

HRESULT FailureCode(LSTATUS status) {
    return status == ERROR_ACCESS_DENIED ? E_ACCESSDENIED : SELFREG_E_CLASS;
}

std::wstring Parent(const std::wstring& key) {
    const size_t separator = key.rfind(L'\\');
    return separator == std::wstring::npos ? L"" : key.substr(0, separator);
}

// Opens root\key for setting values, creating each missing part of the path
// one at a time so that `created` names exactly the keys this call made.
LSTATUS CreateKey(HKEY root, const std::wstring& key, std::vector<std::wstring>& created,
                  HKEY& opened) {
    size_t end = 0;
    do {
        end = key.find(L'\\', end + 1);
        const std::wstring path = key.substr(0, end);
        HKEY handle = nullptr;
        DWORD disposition = 0;
        LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_SET_VALUE, nullptr, &handle, &disposition);
        if (status != ERROR_SUCCESS)
            return status;
        if (disposition == REG_CREATED_NEW_KEY)
            created.push_back(path);
        if (end == std::wstring::npos)
            opened = handle;
        else
            RegCloseKey(handle);
    } while (end != std::wstring::npos);
    return ERROR_SUCCESS;
}

// Sets the entry's value in the open key (its own) and closes the key.
LSTATUS SetValueAndClose(HKEY key, const RegistryEntry& entry) {
    const auto size = static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t));
    LSTATUS status =
        RegSetValueExW(key, entry.name.empty() ? nullptr : entry.name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(entry.value.c_str()), size);
    RegCloseKey(key);
    return status;
}

LSTATUS WriteEntry(HKEY root, const RegistryEntry& entry, std::vector<std::wstring>& created) {
    HKEY key = nullptr;
    LSTATUS status = CreateKey(root, entry.key, created, key);
    return status == ERROR_SUCCESS ? SetValueAndClose(key, entry) : status;
}

// A value as it was before registering wrote it: restored if registering fails.
struct PriorValue {
    RegistryEntry entry;  // the key and name, and the value it held
    bool existed = false;
};

PriorValue ReadPriorValue(HKEY root, const RegistryEntry& entry) {
    PriorValue prior{{entry.key, entry.name, L""}, false};
    DWORD size = 0;
    const wchar_t* name = entry.name.empty() ? nullptr : entry.name.c_str();
    if (RegGetValueW(root, entry.key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return prior;
    prior.entry.value.resize(size / sizeof(wchar_t));
    if (RegGetValueW(root, entry.key.c_str(), name, RRF_RT_REG_SZ, nullptr,
                     prior.entry.value.data(), &size) != ERROR_SUCCESS)
        return prior;
    prior.entry.value.resize(size / sizeof(wchar_t) - 1);  // without the closing NUL
    prior.existed = true;
    return prior;
}

void RestoreValue(HKEY root, const PriorValue& prior) {
    const wchar_t* name = prior.entry.name.empty() ? nullptr : prior.entry.name.c_str();
    if (!prior.existed) {
        RegDeleteKeyValueW(root, prior.entry.key.c_str(), name);
        return;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, prior.entry.key.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS)
        SetValueAndClose(key, prior.entry);
}

// Counts of the key's subkeys and values; false when it cannot be read.
bool CountContents(HKEY root, const std::wstring& key, DWORD& subkeys, DWORD& values) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return false;
    LSTATUS status = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                      &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

// Removes the parents of `key` left empty, up to the first part of its path.
void RemoveEmptyParents(HKEY root, std::wstring key) {
    for (key = Parent(key); key.find(L'\\') != std::wstring::npos; key = Parent(key)) {
        DWORD subkeys = 0;
        DWORD values = 0;
        if (!CountContents(root, key, subkeys, values) || subkeys != 0 || values != 0 ||
            RegDeleteKeyW(root, key.c_str()) != ERROR_SUCCESS)
            return;
    }
}

LSTATUS RemoveKey(HKEY root, const std::wstring& key, const std::vector<RegistryEntry>& entries) {
    DWORD subkeys = 0;
    DWORD values = 0;
    if (!CountContents(root, key, subkeys, values))
        return ERROR_SUCCESS;  // not there (any more)
    if (subkeys != 0) {
        // Keys of others below it: only the entries' own values go.
        for (const RegistryEntry& entry : entries) {
            if (entry.key == key)
                RegDeleteKeyValueW(root, key.c_str(),
                                   entry.name.empty() ? nullptr : entry.name.c_str());
        }
        return ERROR_SUCCESS;
    }
    LSTATUS status = RegDeleteKeyW(root, key.c_str());
    if (status == ERROR_SUCCESS)
        RemoveEmptyParents(root, key);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace

std::vector<RegistryEntry> RegistrationEntries(const std::wstring& libraryPath) {
    const std::wstring libid = GuidText(LIBID_Kestrel);
    const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_CWaveform);
    const std::wstring iid = L"Interface\\" + GuidText(IID__CWaveform);
    const std::wstring progId(kKestrelProgId,
                              kKestrelProgId + std::char_traits<char>::length(kKestrelProgId));
    const std::wstring typeLib = L"TypeLib\\" + libid + L"\\1.0";
    return {
        {typeLib, L"", L"Kestrel"},
        {typeLib + L"\\FLAGS", L"", L"0"},
        {typeLib + L"\\HELPDIR", L"", Parent(libraryPath)},
        {typeLib + L"\\409\\win64", L"", libraryPath},
        // Wine's type-library marshaler looks only under locale 0.
        {typeLib + L"\\0\\win64", L"", libraryPath},
        {iid, L"", L"_CWaveform"},
        {iid + L"\\ProxyStubClsid32", L"", kAutomationMarshaler},
        {iid + L"\\ProxyStubClsid", L"", kAutomationMarshaler},
        {iid + L"\\TypeLib", L"", libid},
        {iid + L"\\TypeLib", L"Version", L"1.0"},
        {clsid, L"", L"CWaveform"},
        {clsid + L"\\InprocServer32", L"", libraryPath},
        {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsid + L"\\ProgID", L"", progId},
        {clsid + L"\\TypeLib", L"", libid},
        {progId, L"", L"CWaveform"},
        {progId + L"\\CLSID", L"", GuidText(CLSID_CWaveform)},
    };
}

HRESULT WriteEntries(HKEY root, const std::vector<RegistryEntry>& entries) {
    std::vector<std::wstring> created;
    std::vector<PriorValue> overwritten;
    for (const RegistryEntry& entry : entries) {
        overwritten.push_back(ReadPriorValue(root, entry));
        if (LSTATUS status = WriteEntry(root, entry, created); status != ERROR_SUCCESS) {
            for (auto prior = overwritten.rbegin(); prior != overwritten.rend(); ++prior)
                RestoreValue(root, *prior);
            for (auto key = created.rbegin(); key != created.rend(); ++key)
                RegDeleteKeyW(root, key->c_str());
            return FailureCode(status);
        }
    }
    return S_OK;
}

HRESULT RemoveEntries(HKEY root, const std::vector<RegistryEntry>& entries) {
    HRESULT result = S_OK;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (LSTATUS status = RemoveKey(root, entry->key, entries); status != ERROR_SUCCESS)
            result = FailureCode(status);
    }
    return result;
}

bool RegisteredToAnotherFile(HKEY root, const std::wstring& libraryPath) {
    const std::wstring server = L"CLSID\\" + GuidText(CLSID_CWaveform) + L"\\InprocServer32";
    std::wstring registered(32768, L'\0');
    DWORD bytes = static_cast<DWORD>(registered.size() * sizeof(wchar_t));
    if (RegGetValueW(root, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, registered.data(),
                     &bytes) != ERROR_SUCCESS)
        return false;
    registered.resize(wcsnlen(registered.c_str(), registered.size()));
    return CompareStringOrdinal(registered.c_str(), static_cast<int>(registered.size()),
                                libraryPath.c_str(), static_cast<int>(libraryPath.size()),
                                TRUE) != CSTR_EQUAL;
}

}  // namespace kestrel
