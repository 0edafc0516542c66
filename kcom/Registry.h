// The per-user class registry: the keys that COM keeps in the registry,
// kept here in one INI-style file. Each section is a key path
// ("CLSID\{...}\InprocServer32"), each line a named value; "@" is the key's
// default value. The file is named by KCOM_REGISTRY, else
// ${XDG_CONFIG_HOME:-~/.config}/kcom/registry.ini.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ComTypes.h"

namespace kcom {

using RegistryValues = std::map<std::string, std::string>;   // value name -> data
using RegistryKeys = std::map<std::string, RegistryValues>;  // key path -> values

// A registry of a few servers is a few kilobytes; anything larger is not one.
inline constexpr uint64_t kLargestRegistry = 1024 * 1024;

KCOM_API std::string RegistryPath();
// The registry as it is now (empty when there is no file yet, and when it
// cannot be read).
KCOM_API RegistryKeys ReadRegistry();
// The registry as it is now; false, with `error`, when it is there but cannot
// be read or parsed (a missing one is empty).
KCOM_API bool TryReadRegistry(RegistryKeys& keys, std::string& error);
// Reads, changes and writes the registry under an exclusive lock; the new
// file replaces the old one whole, comments kept, written through a symbolic
// link to the file it names. A registry that cannot be read or parsed is
// left as it is. False (with `error`) when nothing was changed.
KCOM_API bool ChangeRegistry(const std::function<void(RegistryKeys&)>& change, std::string& error);
// Why the last registration or unregistration on this thread failed; empty
// after one that succeeded.
KCOM_API std::string LastRegistryError();
// A key's default value, the key path matched ignoring case; "" when absent.
KCOM_API std::string DefaultValue(const RegistryKeys& keys, const std::string& path);

// What an in-process server records about its one class.
struct ServerRegistration {
    CLSID clsid;
    std::string className;
    std::string progId;
    std::string libraryPath;
    std::string threadingModel;  // "Apartment"
    GUID typeLibrary;
    std::string typeLibraryName;
    std::string typeLibraryVersion;  // "1.0"
    LCID locale;
    IID interfaceId;
    std::string interfaceName;
};

// The keys a registration writes; unregistering removes exactly these.
KCOM_API RegistryKeys RegistrationKeys(const ServerRegistration& server);
KCOM_API HRESULT RegisterServer(const ServerRegistration& server);
KCOM_API HRESULT UnregisterServer(const ServerRegistration& server);

}  // namespace kcom
