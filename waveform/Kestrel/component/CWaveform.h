// The plug-in class a host creates: the waveform-source contract used as an
// entry point. getWaveform opens the setup window; every other member
// returns a fixed value.
#pragma once

#include <atomic>

#include "CWaveformInterface.h"

namespace kestrel {

class CWaveform final : public _CWaveform {
  public:
    CWaveform();

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IDispatch: the members by name, names matched ignoring case.
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, OLECHAR** names, UINT count, LCID locale,
                          DISPID* ids) override;
    HRESULT Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // _CWaveform
    HRESULT get_module(VARIANT* value) override;
    HRESULT put_module(VARIANT value) override;
    HRESULT putref_module(VARIANT value) override;
    HRESULT getWaveform(VARIANT* wform, double* wTime) override;
    HRESULT get_ComponentID(BSTR* value) override;
    HRESULT get_CountryCode(int32_t* value) override;
    HRESULT put_CountryCode(int32_t value) override;
    HRESULT get_WaveFormResult(int32_t* value) override;
    HRESULT get_CType(VARIANT* value) override;
    HRESULT Execute(int32_t* Action, VARIANT* data, VARIANT_BOOL* result) override;

  private:
    ~CWaveform();
    HRESULT InvokeProperty(DISPID member, WORD flags, DISPPARAMS& params, VARIANT* result);

    std::atomic<ULONG> references_{1};
    VARIANT module_;
    int32_t countryCode_;
};

// Objects alive and server locks held: the library may unload when both are 0.
std::atomic<long>& LiveObjects();
std::atomic<long>& ServerLocks();

}  // namespace kestrel
