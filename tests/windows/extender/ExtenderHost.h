#pragma once

// The 1C host's side of the language extender, as the tests play it: the host's argument
// arrays (with guard elements around them), its value array and connection objects, the driver
// created by its ProgID, a window that types a card, and the driver's log read back.

#include <gtest/gtest.h>
#include <windows.h>

#include <oaidl.h>
#include <objidl.h>
#include <wrl/client.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "WedgecardLib_TLB.h"
#include "driver/host/LanguageExtender.h"

namespace wedgecard::extender_test {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

// Member numbers of the driver's methods in the extender's table.
enum TMethod : long {
    mGetVersion = 7,
    mGetLastError = 8,
    mOpen = 9,
    mClose = 10,
    mEventProcessed = 11,
    mDeviceTest = 12,
};

inline constexpr const wchar_t* CardRead = L"ЧтениеКодаМагнитнойКарты";
inline constexpr const wchar_t* BenchCardData = L"@1;12345=67890?@2Track2@3Track3";
inline constexpr const wchar_t* DriverVersion = L"1.0.0.8";

// UTF-8 for failure messages a person reads.
[[nodiscard]] std::string Utf8(const std::wstring& Text);

// A VARIANT with value semantics.
class TVar {
public:
    TVar() noexcept { VariantInit(&FValue); }
    TVar(const TVar& Other);
    TVar& operator=(const TVar& Other);
    ~TVar() { VariantClear(&FValue); }

    [[nodiscard]] static TVar Int(LONG Value);
    [[nodiscard]] static TVar Bool(bool Value);
    [[nodiscard]] static TVar Text(const std::wstring& Value);
    [[nodiscard]] static TVar Object(IDispatch* Value);

    [[nodiscard]] const VARIANT& Get() const noexcept { return FValue; }
    // Cleared, for a callee to fill.
    VARIANT* Put() noexcept;
    // Left as it is, for a callee that must clear it itself.
    VARIANT* Address() noexcept { return &FValue; }

private:
    VARIANT FValue;
};

// A variant for a failure message: its type code and, for a few types, its value.
[[nodiscard]] std::string Describe(const VARIANT& Value);
::testing::AssertionResult IsString(const VARIANT& Value, const std::wstring& Expected);
::testing::AssertionResult IsBool(const VARIANT& Value, bool Expected);
::testing::AssertionResult IsInt(const VARIANT& Value, LONG Expected);
::testing::AssertionResult IsDeviceID(const VARIANT& Value);
// The same type and value, for the elements a call must leave alone.
::testing::AssertionResult SameValue(const VARIANT& Actual, const VARIANT& Expected);

// The host's parameter array: one dimension of VARIANTs from Lower on. Its data sits between two
// guard elements that nothing may touch, so a write outside the array shows.
class THostArray {
public:
    explicit THostArray(const std::vector<TVar>& Elements = {}, LONG Lower = 0);
    THostArray(const THostArray&) = delete;
    THostArray& operator=(const THostArray&) = delete;
    ~THostArray();

    // What the extender's calls take.
    SAFEARRAY** Put() noexcept { return &FArray; }
    // The element at Index (counted from Lower).
    [[nodiscard]] const VARIANT& operator[](LONG Index) const;
    VARIANT& At(LONG Index);

    // The guards as they were, the descriptor the same one and not left locked.
    [[nodiscard]] ::testing::AssertionResult Intact() const;

private:
    std::vector<VARIANT> FStorage;
    SAFEARRAY* FArray = nullptr;
    SAFEARRAY* FDescriptor = nullptr;
    LONG FLower;
};

// A host's value array ("Array1C"): an automation object with one late-bound method, Get(Index).
class TValuesArray final : public IDispatch {
public:
    [[nodiscard]] static ComPtr<TValuesArray> Create(std::vector<TVar> Values);
    // The bench's defaults: 100 ms, Tab/Enter, PageUp/PageDown, End/Home, log on.
    [[nodiscard]] static ComPtr<TValuesArray> Bench(const std::wstring& Prefix1 = L"#9");

    std::vector<TVar> Values;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** Info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID,
                                            DISPID* IDs) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID Member, REFIID, LCID, WORD, DISPPARAMS* Arguments,
                                     VARIANT* Result, EXCEPINFO*, UINT*) override;

private:
    explicit TValuesArray(std::vector<TVar> AValues) : Values(std::move(AValues)) {}
    ~TValuesArray() = default;
    // The first reference is the one the ComPtr of Create takes.
    ULONG FReferences = 0;
};

struct THostEvent {
    std::wstring Source;
    std::wstring Message;
    std::wstring Data;
    bool operator==(const THostEvent&) const = default;
};
void PrintTo(const THostEvent& Event, std::ostream* Stream);

// The connection object the host hands to IInitDone::Init. With AsyncEvent it answers for
// IAsyncEvent and records the events; without, it is a plain IDispatch.
class TConnection final : public IDispatch, public IAsyncEvent {
public:
    [[nodiscard]] static ComPtr<TConnection> Create(bool AsyncEvent = true);

    std::vector<THostEvent> Events;
    // A host handler run after each event is recorded.
    std::function<void(const THostEvent&)> OnEvent;

    // References held on the object, the creator's included.
    [[nodiscard]] ULONG References() const noexcept { return FReferences; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** Info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override;
    HRESULT STDMETHODCALLTYPE SetEventBufferDepth(long) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetEventBufferDepth(long* Depth) override;
    HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR Source, BSTR Message, BSTR Data) override;
    HRESULT STDMETHODCALLTYPE CleanBuffer() override { return S_OK; }

private:
    explicit TConnection(bool AsyncEvent) : FAsyncEvent(AsyncEvent) {}
    ~TConnection() = default;
    bool FAsyncEvent;
    // The first reference is the one the ComPtr of Create takes.
    ULONG FReferences = 0;
};

// A BSTR owned by the test; Release hands it to a callee that frees it.
class TBstrArg {
public:
    explicit TBstrArg(const std::wstring& Text);
    TBstrArg(const TBstrArg&) = delete;
    TBstrArg& operator=(const TBstrArg&) = delete;
    ~TBstrArg() { SysFreeString(FValue); }
    [[nodiscard]] BSTR Get() const noexcept { return FValue; }
    BSTR* Address() noexcept { return &FValue; }
    [[nodiscard]] std::wstring Text() const;

private:
    BSTR FValue;
};

// Counts the task allocator's blocks that are alive, to see whether a string handed to the
// driver is freed. Registered for the life of the object; the thread must be in COM.
class TAllocationSpy {
public:
    TAllocationSpy();
    TAllocationSpy(const TAllocationSpy&) = delete;
    TAllocationSpy& operator=(const TAllocationSpy&) = delete;
    ~TAllocationSpy();

    [[nodiscard]] bool Registered() const noexcept { return FRegistered; }
    // Blocks of at least Bytes allocated since registration and not yet freed.
    [[nodiscard]] std::size_t LiveBlocksOfAtLeast(std::size_t Bytes) const;

private:
    bool FRegistered = false;
};

// A single-threaded apartment and the driver created through its registration, with the two
// faces the 1C host uses.
class ExtenderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // CallAsFunc on the driver; Result receives the result.
    HRESULT Call(long Method, THostArray& Arguments, TVar& Result);

    // The host's way to a device: CallAsFunc(Open) with the value array; the identifier.
    std::wstring Open(IDispatch* Settings);
    bool Close(const std::wstring& DeviceID);
    // Code and text of GetLastError.
    std::pair<LONG, std::wstring> LastError();
    std::wstring Version();

    ComPtr<ILumMSRKBD1C> Driver;
    ComPtr<ILanguageExtender> Extender;
    ComPtr<IInitDone> InitDone;

private:
    bool FComStarted = false;
};

// Runs the thread's messages as a host's loop does until Done answers true or Timeout passes.
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = 10s);

// A top-level window of this thread with the keyboard focus; records the characters it gets.
class TFocusWindow {
public:
    TFocusWindow();
    TFocusWindow(const TFocusWindow&) = delete;
    TFocusWindow& operator=(const TFocusWindow&) = delete;
    ~TFocusWindow();

    // Foreground and focused, so that typed keys come to this thread.
    bool Activate();
    [[nodiscard]] const std::wstring& Chars() const noexcept { return FChars; }

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
    HWND FHandle = nullptr;
    std::wstring FChars;
};

// Types the bench's default card through the system's input, as a reader types it, then the
// characters of After in the same burst (letters and digits).
bool TypeBenchCard(const std::string& After = "");

// The driver module copied into a folder of its own and created through its class factory, so
// that its log file is this process's alone. One copy per process: Instance.
class TPrivateDriver {
public:
    [[nodiscard]] static TPrivateDriver& Instance();
    TPrivateDriver(const TPrivateDriver&) = delete;
    TPrivateDriver& operator=(const TPrivateDriver&) = delete;

    [[nodiscard]] ComPtr<ILanguageExtender> Create();

    struct TLine {
        std::string Level;   // "DEBUG" or "ERROR"
        std::string Logger;  // the logger's name
        std::string Text;    // what follows the logger's name and one blank
        bool operator==(const TLine&) const = default;
    };
    // The size of the module's log file now.
    [[nodiscard]] std::size_t LogSize() const;
    // The lines this thread wrote to the module's log file from the offset From on, in CP1251
    // as written.
    [[nodiscard]] std::vector<TLine> LogLines(std::size_t From) const;

private:
    TPrivateDriver();
    [[nodiscard]] std::string LogContent() const;

    std::wstring FFolder;
    HMODULE FModule = nullptr;
};
void PrintTo(const TPrivateDriver::TLine& Line, std::ostream* Stream);

}  // namespace wedgecard::extender_test
