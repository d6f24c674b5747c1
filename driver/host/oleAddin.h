#pragma once

#include <memory>
#include <string>

#include "driver/host/LanguageExtender.h"
#include "driver/host/oleMain.h"
#include "driver/host/untAddin.h"

namespace wedgecard {

// The host's language extender on the automation object: members found by English or
// Russian name, calls made with the host's array of arguments through the object's own
// IDispatch::Invoke, [out] strings written back into the host's array. No driver logic here.
class ToleAddin : public TLumMSRKBD1C, public ILanguageExtender {
public:
    ToleAddin() = default;
    ~ToleAddin() override;

    HRESULT Initialize() override;

    // IUnknown, for every interface of the object
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        return TLumMSRKBD1C::QueryInterface(Interface, Object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return TLumMSRKBD1C::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TLumMSRKBD1C::Release(); }

    // ILanguageExtender
    HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* Name) override;
    HRESULT STDMETHODCALLTYPE GetNProps(long* Count) override;
    HRESULT STDMETHODCALLTYPE FindProp(BSTR Name, long* Number) override;
    HRESULT STDMETHODCALLTYPE GetPropName(long Number, long Alias, BSTR* Name) override;
    HRESULT STDMETHODCALLTYPE GetPropVal(long Number, VARIANT* Value) override;
    HRESULT STDMETHODCALLTYPE SetPropVal(long Number, VARIANT* Value) override;
    HRESULT STDMETHODCALLTYPE IsPropReadable(long Number, BOOL* Readable) override;
    HRESULT STDMETHODCALLTYPE IsPropWritable(long Number, BOOL* Writable) override;
    HRESULT STDMETHODCALLTYPE GetNMethods(long* Count) override;
    HRESULT STDMETHODCALLTYPE FindMethod(BSTR Name, long* Number) override;
    HRESULT STDMETHODCALLTYPE GetMethodName(long Number, long Alias, BSTR* Name) override;
    HRESULT STDMETHODCALLTYPE GetNParams(long Number, long* Count) override;
    HRESULT STDMETHODCALLTYPE GetParamDefValue(long Method, long Param, VARIANT* Value) override;
    HRESULT STDMETHODCALLTYPE HasRetVal(long Number, BOOL* HasValue) override;
    HRESULT STDMETHODCALLTYPE CallAsProc(long Number, SAFEARRAY** Params) override;
    HRESULT STDMETHODCALLTYPE CallAsFunc(long Number, VARIANT* Result, SAFEARRAY** Params) override;

    [[nodiscard]] const TAddinProps& Props() const noexcept { return FProps; }
    [[nodiscard]] const TAddinFuncs& Funcs() const noexcept { return FFuncs; }

protected:
    IUnknown* FindInterface(REFIID Interface) noexcept override;
    TLogger& AddinLogger();

private:
    TAddinProps FProps;
    TAddinFuncs FFuncs;
    std::unique_ptr<TLogger> FLogger;
};

// The name of a variant type for the parameter log line: "VT_BSTR", "VT_BYREF+VT_I4", ...
[[nodiscard]] std::string VariantTypeName(VARTYPE Type);

}  // namespace wedgecard
