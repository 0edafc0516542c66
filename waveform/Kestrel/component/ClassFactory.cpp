#include "ClassFactory.h"

#include <atomic>
#include <new>

#include "CWaveform.h"

namespace kestrel {
namespace {

class ClassFactory final : public IClassFactory {
  public:
    ClassFactory() { ++LiveObjects(); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        auto* waveform = new (std::nothrow) CWaveform;
        if (waveform == nullptr)
            return E_OUTOFMEMORY;
        HRESULT result = waveform->QueryInterface(riid, object);
        waveform->Release();  // the caller's reference, if any, keeps it
        return result;
    }
    HRESULT LockServer(BOOL lock) override {
        lock ? ++ServerLocks() : --ServerLocks();
        return S_OK;
    }

  private:
    ~ClassFactory() { --LiveObjects(); }
    std::atomic<ULONG> references_{1};
};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!(clsid == CLSID_CWaveform))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory;
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    HRESULT result = factory->QueryInterface(riid, object);
    factory->Release();
    return result;
}

}  // namespace kestrel
