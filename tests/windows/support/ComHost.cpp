#include "tests/windows/support/ComHost.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace wedgecard::test {

namespace {

// Every call the host makes through these helpers is expected to succeed at the COM level; a
// failing status is raised, so that the benchmark can share them with the tests.
void Check(HRESULT Status, const char* Call) {
    if (FAILED(Status)) {
        char text[96];
        std::snprintf(text, sizeof text, "%s failed with 0x%08lX", Call,
                      static_cast<unsigned long>(Status));
        throw std::runtime_error(text);
    }
}

constexpr DISPID GetMember = 1;

}  // namespace

TGenericFunction ExportOf(HMODULE Module, const char* Name) {
    // The generic function type converts to any other without a cast-function-type warning.
    return reinterpret_cast<TGenericFunction>(GetProcAddress(Module, Name));
}

TComApartment::TComApartment() : FStatus(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

TComApartment::~TComApartment() {
    if (SUCCEEDED(FStatus)) {
        CoUninitialize();
    }
}

TValue::TValue() noexcept {
    VariantInit(&FValue);
}

TValue::TValue(std::int32_t Value) noexcept {
    VariantInit(&FValue);
    FValue.vt = VT_I4;
    FValue.lVal = Value;
}

TValue::TValue(bool Value) noexcept {
    VariantInit(&FValue);
    FValue.vt = VT_BOOL;
    FValue.boolVal = Value ? VARIANT_TRUE : VARIANT_FALSE;
}

TValue::TValue(const wchar_t* Value) : TValue(std::wstring(Value)) {}

TValue::TValue(const std::wstring& Value) {
    VariantInit(&FValue);
    FValue.vt = VT_BSTR;
    FValue.bstrVal = SysAllocStringLen(Value.data(), static_cast<UINT>(Value.size()));
}

TValue::TValue(const TValue& Other) {
    VariantInit(&FValue);
    VariantCopy(&FValue, const_cast<VARIANT*>(&Other.FValue));
}

TValue& TValue::operator=(const TValue& Other) {
    if (this != &Other) {
        VariantCopy(&FValue, const_cast<VARIANT*>(&Other.FValue));
    }
    return *this;
}

TValue::~TValue() {
    VariantClear(&FValue);
}

TValue TValue::Object(IDispatch* Value) noexcept {
    TValue value;
    value.FValue.vt = VT_DISPATCH;
    value.FValue.pdispVal = Value;
    if (Value != nullptr) {
        Value->AddRef();
    }
    return value;
}

TValue TValue::Null() noexcept {
    TValue value;
    value.FValue.vt = VT_NULL;
    return value;
}

TValue TValue::Adopt(VARIANT& Value) noexcept {
    TValue value;
    value.FValue = Value;
    VariantInit(&Value);
    return value;
}

VARIANT* TValue::Put() noexcept {
    VariantClear(&FValue);
    return &FValue;
}

std::string Utf8(const std::wstring& Text) {
    if (Text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

std::wstring WideOf(BSTR Text) {
    return Text == nullptr ? std::wstring() : std::wstring(Text, SysStringLen(Text));
}

std::wstring TakeString(BSTR& Text) {
    std::wstring result = WideOf(Text);
    SysFreeString(Text);
    Text = nullptr;
    return result;
}

TBstrArg::TBstrArg(const std::wstring& Text)
    : FValue(SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()))) {}

TBstrArg::~TBstrArg() {
    SysFreeString(FValue);
}

void PrintTo(const THostEvent& Event, std::ostream* Stream) {
    *Stream << "{Source \"" << Utf8(Event.Source) << "\", Message \"" << Utf8(Event.Message)
            << "\", Data \"" << Utf8(Event.Data) << "\"}";
}

ComPtr<TEventSink> TEventSink::Create(bool AsyncEvent) {
    // Made with no reference; the smart pointer takes the first (Attach would add one more).
    return ComPtr<TEventSink>(new TEventSink(AsyncEvent));
}

HRESULT TEventSink::QueryInterface(REFIID Interface, void** Object) {
    if (Object == nullptr) {
        return E_POINTER;
    }
    if (Interface == IID_IUnknown || Interface == IID_IDispatch) {
        *Object = static_cast<IDispatch*>(this);
    } else if (Interface == IID_IAsyncEvent && FAsyncEvent) {
        *Object = static_cast<IAsyncEvent*>(this);
    } else {
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG TEventSink::Release() {
    const ULONG remaining = --FReferences;
    if (remaining == 0) {
        delete this;
    }
    return remaining;
}

HRESULT TEventSink::GetTypeInfoCount(UINT* Count) {
    if (Count == nullptr) {
        return E_POINTER;
    }
    *Count = 0;
    return S_OK;
}

HRESULT TEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** Info) {
    if (Info != nullptr) {
        *Info = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT TEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT Count, LCID, DISPID* IDs) {
    for (UINT i = 0; IDs != nullptr && i < Count; ++i) {
        IDs[i] = DISPID_UNKNOWN;
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT TEventSink::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT TEventSink::SetEventBufferDepth(long Value) {
    Depth = std::clamp(Value, 1L, DepthLimit);
    return S_OK;
}

HRESULT TEventSink::GetEventBufferDepth(long* Value) {
    if (Value == nullptr) {
        return E_POINTER;
    }
    if (ReportsDepth) {
        *Value = Depth;
    }
    return S_OK;
}

void TEventSink::Deliver() {
    const ComPtr<TEventSink> self(this);
    while (!FBuffer.empty()) {
        const THostEvent event = FBuffer.front();
        if (OnEvent) {
            OnEvent(event);
        }
        FBuffer.pop_front();
    }
}

HRESULT TEventSink::ExternalEvent(BSTR Source, BSTR Message, BSTR Data) {
    // The handler may let go of the last reference to the driver, which holds this sink.
    const ComPtr<TEventSink> self(this);
    const THostEvent event{WideOf(Source), WideOf(Message), WideOf(Data)};
    Events.push_back(event);
    const HRESULT answer = OnAnswer ? OnAnswer(event) : Answer;
    if (Buffered) {
        if (FBuffer.size() >= static_cast<std::size_t>(Depth)) {
            Dropped.push_back(event);
        } else {
            FBuffer.push_back(event);
        }
        return answer;
    }
    if (OnEvent) {
        // A copy: a handler that acknowledges receives the next event, nested, into Events.
        OnEvent(event);
    }
    return answer;
}

HRESULT TEventSink::CleanBuffer() {
    return S_OK;
}

ComPtr<TSettingsArray> TSettingsArray::Create(std::vector<TValue> Values) {
    return ComPtr<TSettingsArray>(new TSettingsArray(std::move(Values)));
}

ComPtr<TSettingsArray> TSettingsArray::Bench(std::int32_t Sensitivity, bool LogEnabled) {
    return Create(
        SettingsValues(Sensitivity, L"#9", L"#13", L"#33", L"#34", L"#35", L"#36", LogEnabled));
}

HRESULT TSettingsArray::QueryInterface(REFIID Interface, void** Object) {
    if (Object == nullptr) {
        return E_POINTER;
    }
    if (Interface == IID_IUnknown || Interface == IID_IDispatch) {
        *Object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
}

ULONG TSettingsArray::Release() {
    const ULONG remaining = --FReferences;
    if (remaining == 0) {
        delete this;
    }
    return remaining;
}

HRESULT TSettingsArray::GetTypeInfoCount(UINT* Count) {
    if (Count == nullptr) {
        return E_POINTER;
    }
    *Count = 0;
    return S_OK;
}

HRESULT TSettingsArray::GetTypeInfo(UINT, LCID, ITypeInfo** Info) {
    if (Info != nullptr) {
        *Info = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT TSettingsArray::GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID, DISPID* IDs) {
    if (Names == nullptr || IDs == nullptr || Count == 0) {
        return E_INVALIDARG;
    }
    for (UINT i = 0; i < Count; ++i) {
        IDs[i] = DISPID_UNKNOWN;
    }
    if (Names[0] == nullptr || lstrcmpiW(Names[0], L"Get") != 0) {
        return DISP_E_UNKNOWNNAME;
    }
    IDs[0] = GetMember;
    return Count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT TSettingsArray::Invoke(DISPID Member, REFIID, LCID, WORD Flags, DISPPARAMS* Arguments,
                               VARIANT* Result, EXCEPINFO* Exception, UINT* ArgumentError) {
    // No default member: a settings array does not turn into a text.
    if (Member != GetMember || (Flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (Arguments == nullptr || Arguments->cArgs != 1 || Arguments->cNamedArgs != 0) {
        return DISP_E_BADPARAMCOUNT;
    }
    VARIANT index;
    VariantInit(&index);
    if (FAILED(VariantChangeType(&index, &Arguments->rgvarg[0], 0, VT_I4))) {
        if (ArgumentError != nullptr) {
            *ArgumentError = 0;
        }
        return DISP_E_TYPEMISMATCH;
    }
    Reads.push_back(index.lVal);
    if (Result == nullptr) {
        return S_OK;
    }
    if (OnGet) {
        return OnGet(index.lVal, Result, Exception);
    }
    if (const auto failure = FailingReads.find(index.lVal); failure != FailingReads.end()) {
        return RaiseException(Exception, failure->second);
    }
    if (index.lVal < 0 || static_cast<std::size_t>(index.lVal) >= Values.size()) {
        return DISP_E_BADINDEX;
    }
    VariantInit(Result);
    return VariantCopy(Result,
                       const_cast<VARIANT*>(&Values[static_cast<std::size_t>(index.lVal)].Get()));
}

std::vector<TValue> SettingsValues(std::int32_t Sensitivity, const std::wstring& Prefix1,
                                   const std::wstring& Suffix1, const std::wstring& Prefix2,
                                   const std::wstring& Suffix2, const std::wstring& Prefix3,
                                   const std::wstring& Suffix3, bool LogEnabled) {
    return {Sensitivity, Prefix1, Suffix1, Prefix2, Suffix2, Prefix3, Suffix3, LogEnabled};
}

HRESULT RaiseException(EXCEPINFO* Exception, const std::wstring& Description) {
    if (Exception == nullptr) {
        return E_FAIL;
    }
    *Exception = EXCEPINFO{};
    Exception->bstrSource = SysAllocString(L"SettingsArray");
    Exception->bstrDescription =
        SysAllocStringLen(Description.data(), static_cast<UINT>(Description.size()));
    Exception->scode = E_FAIL;
    return DISP_E_EXCEPTION;
}

std::wstring WindowsPath(const char* Path) {
    std::wstring result;
    for (const char* c = Path; *c != '\0'; ++c) {
        result += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    return result;
}

ComPtr<ILumMSRKBD1C> CreateDriver() {
    CLSID clsid;
    Check(CLSIDFromProgID(L"Addin.LumMSRKBD1C", &clsid), "CLSIDFromProgID");
    ComPtr<ILumMSRKBD1C> driver;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ILumMSRKBD1C,
                           reinterpret_cast<void**>(driver.GetAddressOf())),
          "CoCreateInstance");
    return driver;
}

TDriverModule::TDriverModule(const std::wstring& Path) : FModule(LoadLibraryW(Path.c_str())) {}

TDriverModule::~TDriverModule() {
    Unload();
}

bool TDriverModule::Unload() {
    if (FModule != nullptr && CanUnloadNow() == S_OK) {
        FreeLibrary(FModule);
        FModule = nullptr;
    }
    return FModule == nullptr;
}

HRESULT TDriverModule::CanUnloadNow() const {
    using TCanUnload = HRESULT(STDAPICALLTYPE*)();
    const auto canUnload = reinterpret_cast<TCanUnload>(ExportOf(FModule, "DllCanUnloadNow"));
    return canUnload != nullptr ? canUnload() : E_NOTIMPL;
}

ComPtr<ILumMSRKBD1C> TDriverModule::Create() {
    if (FModule == nullptr) {
        throw std::runtime_error("the driver module is not loaded");
    }
    using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<TGetClassObject>(ExportOf(FModule, "DllGetClassObject"));
    if (getClassObject == nullptr) {
        throw std::runtime_error("DllGetClassObject is not exported");
    }
    ComPtr<IClassFactory> factory;
    Check(getClassObject(CLSID_LumMSRKBD1C, IID_IClassFactory,
                         reinterpret_cast<void**>(factory.GetAddressOf())),
          "DllGetClassObject");
    ComPtr<ILumMSRKBD1C> driver;
    Check(factory->CreateInstance(nullptr, IID_ILumMSRKBD1C,
                                  reinterpret_cast<void**>(driver.GetAddressOf())),
          "IClassFactory::CreateInstance");
    return driver;
}

ComPtr<IInitDone> InitDoneOf(ILumMSRKBD1C* Driver) {
    ComPtr<IInitDone> initDone;
    Check(Driver->QueryInterface(IID_IInitDone, reinterpret_cast<void**>(initDone.GetAddressOf())),
          "QueryInterface(IInitDone)");
    return initDone;
}

ComPtr<ILanguageExtender> ExtenderOf(ILumMSRKBD1C* Driver) {
    ComPtr<ILanguageExtender> extender;
    Check(Driver->QueryInterface(IID_ILanguageExtender,
                                 reinterpret_cast<void**>(extender.GetAddressOf())),
          "QueryInterface(ILanguageExtender)");
    return extender;
}

TLastError LastErrorOf(ILumMSRKBD1C* Driver) {
    BSTR text = nullptr;
    LONG code = -1;
    Check(Driver->GetLastError(&text, &code), "GetLastError");
    return {code, TakeString(text)};
}

bool OpenDevice(ILumMSRKBD1C* Driver, IDispatch* Settings, std::wstring& DeviceID) {
    BSTR id = nullptr;
    VARIANT_BOOL result = VARIANT_FALSE;
    Check(Driver->Open(Settings, &id, &result), "Open");
    DeviceID = TakeString(id);
    return result != VARIANT_FALSE;
}

bool CloseDevice(ILumMSRKBD1C* Driver, const std::wstring& DeviceID) {
    VARIANT_BOOL result = VARIANT_FALSE;
    Check(Driver->Close(TBstrArg(DeviceID), &result), "Close");
    return result != VARIANT_FALSE;
}

bool Acknowledge(ILumMSRKBD1C* Driver, const std::wstring& DeviceID, bool Processed) {
    VARIANT_BOOL result = VARIANT_FALSE;
    Check(Driver->EventProcessed(TBstrArg(DeviceID), Processed ? VARIANT_TRUE : VARIANT_FALSE,
                                 &result),
          "EventProcessed");
    return result != VARIANT_FALSE;
}

std::wstring VersionOf(ILumMSRKBD1C* Driver) {
    BSTR version = nullptr;
    Check(Driver->GetVersion(&version), "GetVersion");
    return TakeString(version);
}

HRESULT InvokeMethod(IDispatch* Object, DISPID Member, std::vector<VARIANT> Arguments,
                     VARIANT* Result) {
    // The runtime hands arguments over last first.
    std::vector<VARIANT> reversed(Arguments.rbegin(), Arguments.rend());
    DISPPARAMS parameters{reversed.empty() ? nullptr : reversed.data(), nullptr,
                          static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO exception{};
    const HRESULT status = Object->Invoke(Member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                          &parameters, Result, &exception, nullptr);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return status;
}

}  // namespace wedgecard::test
