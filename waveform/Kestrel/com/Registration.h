// What registering Kestrel.dll writes under HKEY_CLASSES_ROOT, and the
// writing and removing of it. Registering either writes every entry or, on a
// failure, removes the keys it had created; unregistering removes the keys
// of the entries and the parents they leave empty, nothing else.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrel {

struct RegistryEntry {
    std::wstring key;    // below the root, parts separated by '\'
    std::wstring name;   // the value's name; empty for the key's default value
    std::wstring value;  // a string (REG_SZ)
};

// The entries for the library at `libraryPath` (its full path), in the order
// they are written: the type library, the interface, the class, the ProgID.
std::vector<RegistryEntry> RegistrationEntries(const std::wstring& libraryPath);

// Writes the entries below `root`. On a failure the keys this call created
// are removed again and the result is E_ACCESSDENIED when access was denied,
// SELFREG_E_CLASS otherwise.
HRESULT WriteEntries(HKEY root, const std::vector<RegistryEntry>& entries);

// Removes the entries' keys, last first, and each parent left empty below
// the first part of its path. A key that holds keys of others keeps them and
// loses only the entries' values. Missing keys are no failure.
HRESULT RemoveEntries(HKEY root, const std::vector<RegistryEntry>& entries);

// True when the class is registered to a file other than `libraryPath` (its
// InprocServer32, compared ignoring case): another copy's registration, say a
// newer install's, which unregistering this file must leave in place.
bool RegisteredToAnotherFile(HKEY root, const std::wstring& libraryPath);

}  // namespace kestrel
