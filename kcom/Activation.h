// Creating objects of registered in-process servers, for hosts: find the
// class in the registry, load its library, ask its class factory.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ComTypes.h"

namespace kcom {

// The class identifier registered for a programmatic identifier.
KCOM_API HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid);
// Loads the class's library (once; it stays loaded) and creates an object.
KCOM_API HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object);
// By programmatic identifier, or by class identifier in its "{...}" form.
KCOM_API HRESULT CreateInstance(const std::string& name, REFIID iid, void** object);

struct RegisteredClass {
    std::string clsid;
    std::string progId;
    std::string library;
    std::string threadingModel;
};
KCOM_API std::vector<RegisteredClass> RegisteredClasses();

// Loads a server library and calls its DllRegisterServer or DllUnregisterServer.
KCOM_API HRESULT RegisterLibrary(const std::string& path, std::string& error);
KCOM_API HRESULT UnregisterLibrary(const std::string& path, std::string& error);

// Holds one reference to an interface and releases it when it goes.
template <typename Interface>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    void Reset() {
        if (p_ != nullptr)
            std::exchange(p_, nullptr)->Release();
    }
    Interface* Get() const { return p_; }
    Interface* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For functions that hand out a new reference through void**.
    void** Out() {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }

  private:
    Interface* p_ = nullptr;
};

}  // namespace kcom
