#include "Activation.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "Registry.h"

namespace kcom {
namespace {

// Libraries stay loaded for the life of the process, as objects and class
// factories of theirs may be held anywhere.
void* Load(const std::string& path, std::string& error) {
    static std::mutex mutex;
    static std::map<std::string, void*> loaded;
    std::lock_guard<std::mutex> guard(mutex);
    if (auto it = loaded.find(path); it != loaded.end())
        return it->second;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = why != nullptr ? why : "cannot load " + path;
        return nullptr;
    }
    loaded[path] = handle;
    return handle;
}

HRESULT CallServerFunction(const std::string& path, const char* name, std::string& error) {
    void* library = Load(path, error);
    if (library == nullptr)
        return CO_E_DLLNOTFOUND;
    auto function = reinterpret_cast<DllRegisterServerFunction>(dlsym(library, name));
    if (function == nullptr) {
        error = path + " has no " + name;
        return CO_E_ERRORINDLL;
    }
    HRESULT result = function();
    if (FAILED(result)) {
        // The server's registry change says why, where that is what failed.
        const std::string why = LastRegistryError();
        error = std::string(name) + " failed" + (why.empty() ? "" : ": " + why);
    }
    return result;
}

}  // namespace

HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    std::optional<GUID> id = ParseGuid(DefaultValue(ReadRegistry(), progId + "\\Clsid"));
    if (!id)
        return CO_E_CLASSSTRING;
    *clsid = *id;
    return S_OK;
}

HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    const std::string path =
        DefaultValue(ReadRegistry(), "CLSID\\" + ToString(clsid) + "\\InprocServer32");
    if (path.empty())
        return REGDB_E_CLASSNOTREG;
    std::string error;
    void* library = Load(path, error);
    if (library == nullptr)
        return CO_E_DLLNOTFOUND;
    auto getClassObject =
        reinterpret_cast<DllGetClassObjectFunction>(dlsym(library, "DllGetClassObject"));
    if (getClassObject == nullptr)
        return CO_E_ERRORINDLL;
    ComPtr<IClassFactory> factory;
    HRESULT result = getClassObject(clsid, IID_IClassFactory, factory.Out());
    if (FAILED(result))
        return result;
    return factory->CreateInstance(nullptr, iid, object);
}

HRESULT CreateInstance(const std::string& name, REFIID iid, void** object) {
    std::optional<GUID> clsid = ParseGuid(name);
    if (!clsid) {
        CLSID byName;
        HRESULT result = CLSIDFromProgID(name, &byName);
        if (FAILED(result))
            return result;
        clsid = byName;
    }
    return CreateInstance(*clsid, iid, object);
}

std::vector<RegisteredClass> RegisteredClasses() {
    std::vector<RegisteredClass> classes;
    const RegistryKeys keys = ReadRegistry();
    for (const auto& [path, values] : keys) {
        constexpr std::string_view kSuffix = "\\InprocServer32";
        if (!path.starts_with("CLSID\\") || !path.ends_with(kSuffix))
            continue;
        const std::string clsidKey = path.substr(0, path.size() - kSuffix.size());
        RegisteredClass entry;
        entry.clsid = clsidKey.substr(6);
        entry.progId = DefaultValue(keys, clsidKey + "\\ProgID");
        entry.library = values.count("@") ? values.at("@") : "";
        entry.threadingModel = values.count("ThreadingModel") ? values.at("ThreadingModel") : "";
        classes.push_back(entry);
    }
    return classes;
}

HRESULT RegisterLibrary(const std::string& path, std::string& error) {
    return CallServerFunction(path, "DllRegisterServer", error);
}

HRESULT UnregisterLibrary(const std::string& path, std::string& error) {
    return CallServerFunction(path, "DllUnregisterServer", error);
}

}  // namespace kcom
