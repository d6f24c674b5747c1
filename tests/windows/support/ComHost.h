#pragma once

// The host's side of the driver's COM boundary, as the tests play it: an apartment, values and
// strings, the connection object the host hands to IInitDone::Init (which answers for
// IAsyncEvent), the settings array Open reads late bound, and the ways a host gets hold of the
// driver and calls it.

#include <windows.h>

#include <oaidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "WedgecardLib_TLB.h"
#include "driver/host/LanguageExtender.h"

namespace wedgecard::test {

using Microsoft::WRL::ComPtr;

// COM initialised on the calling thread as a single-threaded apartment, as a host's user-interface
// thread has it.
class TComApartment {
public:
    TComApartment();
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    ~TComApartment();

    [[nodiscard]] HRESULT Status() const noexcept { return FStatus; }

private:
    HRESULT FStatus;
};

// A VARIANT with value semantics.
class TValue {
public:
    TValue() noexcept;
    TValue(std::int32_t Value) noexcept;  // NOLINT: values read like literals in the tables
    TValue(bool Value) noexcept;          // NOLINT
    TValue(const wchar_t* Value);         // NOLINT
    TValue(const std::wstring& Value);    // NOLINT
    TValue(const TValue& Other);
    TValue& operator=(const TValue& Other);
    ~TValue();

    [[nodiscard]] static TValue Int(std::int32_t Value) noexcept { return TValue(Value); }
    [[nodiscard]] static TValue Bool(bool Value) noexcept { return TValue(Value); }
    [[nodiscard]] static TValue Text(const std::wstring& Value) { return TValue(Value); }
    // Holds a reference of its own on Value, which may be null.
    [[nodiscard]] static TValue Object(IDispatch* Value) noexcept;
    // A VT_NULL value.
    [[nodiscard]] static TValue Null() noexcept;
    // Takes over Value, which is left empty.
    [[nodiscard]] static TValue Adopt(VARIANT& Value) noexcept;

    [[nodiscard]] const VARIANT& Get() const noexcept { return FValue; }
    // Cleared, for a callee to fill.
    VARIANT* Put() noexcept;
    // Left as it is, for a callee that clears it itself.
    VARIANT* Address() noexcept { return &FValue; }

private:
    VARIANT FValue;
};

// UTF-8 for failure messages a person reads.
[[nodiscard]] std::string Utf8(const std::wstring& Text);
// A BSTR's text, embedded nulls included; empty for a null BSTR.
[[nodiscard]] std::wstring WideOf(BSTR Text);
// The wide string a call left in a BSTR, which it frees.
[[nodiscard]] std::wstring TakeString(BSTR& Text);

// A BSTR owned by the test for the length of a call; Address hands it to a callee that may
// replace it.
class TBstrArg {
public:
    explicit TBstrArg(const std::wstring& Text);
    TBstrArg(const TBstrArg&) = delete;
    TBstrArg& operator=(const TBstrArg&) = delete;
    ~TBstrArg();

    [[nodiscard]] BSTR Get() const noexcept { return FValue; }
    operator BSTR() const noexcept { return FValue; }  // NOLINT: passed straight to calls
    BSTR* Address() noexcept { return &FValue; }
    [[nodiscard]] std::wstring Text() const { return WideOf(FValue); }

private:
    BSTR FValue;
};

struct THostEvent {
    std::wstring Source;
    std::wstring Message;
    std::wstring Data;
    bool operator==(const THostEvent&) const = default;
};

// Lets gtest show an event readably when an assertion fails.
void PrintTo(const THostEvent& Event, std::ostream* Stream);

// The host's connection object. With IAsyncEvent (the default) it is the event sink: it
// records every event it is offered, decides its answer, then runs OnEvent (a host handler that
// may call the driver back, or let go of it). Without, it is a plain automation object.
class TEventSink final : public IDispatch, public IAsyncEvent {
public:
    [[nodiscard]] static ComPtr<TEventSink> Create(bool AsyncEvent = true);

    // Every event offered, refused ones included, in the order of the calls.
    std::vector<THostEvent> Events;
    std::function<void(const THostEvent&)> OnEvent;
    // What ExternalEvent answers, unless OnAnswer decides per event.
    HRESULT Answer = S_OK;
    std::function<HRESULT(const THostEvent&)> OnAnswer;

    // The depth of the event buffer the sink reports: 1 until the driver asks for more, and
    // never more than DepthLimit.
    long Depth = 1;
    long DepthLimit = 1L << 30;
    // Off: GetEventBufferDepth answers S_OK and writes nothing, as some hosts do.
    bool ReportsDepth = true;
    // A buffering host, as the platform is: ExternalEvent only stores the event, and drops it
    // into Dropped when the buffer already holds Depth events; Deliver hands them to OnEvent
    // in order, each kept in the buffer until its handler returns.
    bool Buffered = false;
    std::vector<THostEvent> Dropped;
    void Deliver();

    // References held on the sink, the caller's included.
    [[nodiscard]] ULONG References() const noexcept { return FReferences; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: the connection object offers no members of its own here.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** Info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

    // IAsyncEvent
    HRESULT STDMETHODCALLTYPE SetEventBufferDepth(long Depth) override;
    HRESULT STDMETHODCALLTYPE GetEventBufferDepth(long* Depth) override;
    HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR Source, BSTR Message, BSTR Data) override;
    HRESULT STDMETHODCALLTYPE CleanBuffer() override;

private:
    explicit TEventSink(bool AsyncEvent) : FAsyncEvent(AsyncEvent) {}
    ~TEventSink() = default;
    bool FAsyncEvent;
    std::deque<THostEvent> FBuffer;
    // The first reference is the one the ComPtr of Create takes.
    ULONG FReferences = 0;
};

// A host's settings array: an automation object with the method Get(Index), answered from
// Values (DISP_E_BADINDEX past the end), by a raised error for the indexes in FailingReads, or
// by OnGet when it is set.
class TSettingsArray final : public IDispatch {
public:
    using TGetHandler =
        std::function<HRESULT(std::int32_t Index, VARIANT* Result, EXCEPINFO* Exception)>;

    [[nodiscard]] static ComPtr<TSettingsArray> Create(std::vector<TValue> Values);
    // The test bench's defaults: Tab/Enter, PageUp/PageDown and End/Home frame the tracks.
    [[nodiscard]] static ComPtr<TSettingsArray> Bench(std::int32_t Sensitivity = 100,
                                                      bool LogEnabled = true);

    std::vector<TValue> Values;
    // Reads of these indexes fail with the description given, as the host's array raises.
    std::map<std::int32_t, std::wstring> FailingReads;
    TGetHandler OnGet;
    // The indexes asked for, in order.
    std::vector<std::int32_t> Reads;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** Info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID,
                                            DISPID* IDs) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID Member, REFIID, LCID, WORD Flags, DISPPARAMS* Arguments,
                                     VARIANT* Result, EXCEPINFO* Exception,
                                     UINT* ArgumentError) override;

private:
    explicit TSettingsArray(std::vector<TValue> AValues) : Values(std::move(AValues)) {}
    ~TSettingsArray() = default;
    ULONG FReferences = 0;
};

// The eight settings in the order Open reads them.
[[nodiscard]] std::vector<TValue> SettingsValues(
    std::int32_t Sensitivity, const std::wstring& Prefix1, const std::wstring& Suffix1,
    const std::wstring& Prefix2, const std::wstring& Suffix2, const std::wstring& Prefix3,
    const std::wstring& Suffix3, bool LogEnabled);

// Fills an EXCEPINFO as an automation object reports a failure of its own.
HRESULT RaiseException(EXCEPINFO* Exception, const std::wstring& Description);

// A path the build gave as text ("Z:/folder/file"), with the separators Windows shows.
[[nodiscard]] std::wstring WindowsPath(const char* Path);

// The driver as a host creates it: by its ProgID, through the registration.
[[nodiscard]] ComPtr<ILumMSRKBD1C> CreateDriver();

// An exported function of a module, null when there is none; cast it to its real type.
using TGenericFunction = void (*)();
[[nodiscard]] TGenericFunction ExportOf(HMODULE Module, const char* Name);

// The driver module loaded from a file of one's choice, without the registry: a copy in a
// folder of its own keeps its own log file.
class TDriverModule {
public:
    explicit TDriverModule(const std::wstring& Path);
    TDriverModule(const TDriverModule&) = delete;
    TDriverModule& operator=(const TDriverModule&) = delete;
    // Unloads the module when it has no object left.
    ~TDriverModule();

    [[nodiscard]] bool Loaded() const noexcept { return FModule != nullptr; }
    [[nodiscard]] HMODULE Handle() const noexcept { return FModule; }
    [[nodiscard]] ComPtr<ILumMSRKBD1C> Create();
    // What the module's DllCanUnloadNow answers.
    [[nodiscard]] HRESULT CanUnloadNow() const;
    // Unloads the module now if it agrees; true when it is gone.
    bool Unload();

private:
    HMODULE FModule = nullptr;
};

// The Init/Done and language extender faces of a driver object.
[[nodiscard]] ComPtr<IInitDone> InitDoneOf(ILumMSRKBD1C* Driver);
[[nodiscard]] ComPtr<ILanguageExtender> ExtenderOf(ILumMSRKBD1C* Driver);

// Early-bound calls as a host makes them; each raises std::runtime_error when the call fails
// at the COM level (a test fails, the benchmark stops).
struct TLastError {
    std::int32_t Code = -1;
    std::wstring Text;
};
[[nodiscard]] TLastError LastErrorOf(ILumMSRKBD1C* Driver);
[[nodiscard]] bool OpenDevice(ILumMSRKBD1C* Driver, IDispatch* Settings, std::wstring& DeviceID);
[[nodiscard]] bool CloseDevice(ILumMSRKBD1C* Driver, const std::wstring& DeviceID);
[[nodiscard]] bool Acknowledge(ILumMSRKBD1C* Driver, const std::wstring& DeviceID, bool Processed);
[[nodiscard]] std::wstring VersionOf(ILumMSRKBD1C* Driver);

// Calls Member of Object late bound as a method, with Arguments in their declared order (they
// stay the caller's); Result, when given, receives the value.
HRESULT InvokeMethod(IDispatch* Object, DISPID Member, std::vector<VARIANT> Arguments,
                     VARIANT* Result);

// The driver's members by DISPID, as its type library numbers them.
namespace member {
inline constexpr DISPID GetVersion = 201;
inline constexpr DISPID GetLastError = 203;
inline constexpr DISPID Open = 204;
inline constexpr DISPID Close = 205;
inline constexpr DISPID EventProcessed = 206;
inline constexpr DISPID DeviceTest = 207;
}  // namespace member

// The driver's methods by number in the language extender's table (after the seven inherited
// functions of IUnknown and IDispatch).
enum TMethod : long {
    mGetVersion = 7,
    mGetLastError = 8,
    mOpen = 9,
    mClose = 10,
    mEventProcessed = 11,
    mDeviceTest = 12,
};

// Texts the driver sends, as the host receives them.
inline constexpr const wchar_t* CardRead = L"ЧтениеКодаМагнитнойКарты";
inline constexpr const wchar_t* DriverError = L"ОшибкаВДрайвере";
inline constexpr const wchar_t* BenchCardData = L"@1;12345=67890?@2Track2@3Track3";
inline constexpr const wchar_t* DriverVersion = L"1.0.0.8";

}  // namespace wedgecard::test
