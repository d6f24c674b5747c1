#include "tests/windows/extender/ExtenderHost.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace wedgecard::extender_test {

namespace {

constexpr LONG GuardValue = 0x5AFE;

std::string Cp1251ToUtf8(const std::string& Text) {
    const int size =
        MultiByteToWideChar(1251, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(1251, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), size);
    return Utf8(wide);
}

std::wstring WideOf(BSTR Value) {
    return Value == nullptr ? std::wstring() : std::wstring(Value, SysStringLen(Value));
}

// The generic function type converts to any other without a cast-function-type warning.
using TGenericFunction = void (*)();
using TDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// Every block the task allocator hands out while the spy is registered, until it is freed.
class TMallocSpy final : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        if (Object == nullptr) {
            return E_POINTER;
        }
        if (Interface == IID_IUnknown || Interface == IID_IMallocSpy) {
            *Object = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    // A process-wide object that outlives every registration.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T Request) override {
        std::lock_guard lock(FLock);
        FPending[GetCurrentThreadId()] = Request;
        return Request;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* Actual) override {
        std::lock_guard lock(FLock);
        if (Actual != nullptr) {
            FLive[Actual] = FPending[GetCurrentThreadId()];
        }
        return Actual;
    }
    void* STDMETHODCALLTYPE PreFree(void* Request, BOOL /*Spyed*/) override {
        std::lock_guard lock(FLock);
        FLive.erase(Request);
        return Request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL /*Spyed*/) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* Request, SIZE_T Size, void** NewRequest,
                                        BOOL /*Spyed*/) override {
        std::lock_guard lock(FLock);
        FLive.erase(Request);
        FPending[GetCurrentThreadId()] = Size;
        *NewRequest = Request;
        return Size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* Actual, BOOL /*Spyed*/) override {
        std::lock_guard lock(FLock);
        if (Actual != nullptr) {
            FLive[Actual] = FPending[GetCurrentThreadId()];
        }
        return Actual;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* Request, BOOL /*Spyed*/) override { return Request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T Actual, BOOL /*Spyed*/) override { return Actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* Request, BOOL /*Spyed*/) override { return Request; }
    int STDMETHODCALLTYPE PostDidAlloc(void* /*Request*/, BOOL /*Spyed*/, int Actual) override {
        return Actual;
    }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

    std::size_t LiveBlocksOfAtLeast(std::size_t Bytes) const {
        std::lock_guard lock(FLock);
        std::size_t count = 0;
        for (const auto& [block, size] : FLive) {
            if (size >= Bytes) {
                ++count;
            }
        }
        return count;
    }

private:
    mutable std::mutex FLock;
    std::map<DWORD, SIZE_T> FPending;
    std::map<void*, SIZE_T> FLive;
};

TMallocSpy& Spy() {
    static TMallocSpy spy;
    return spy;
}

INPUT KeyInput(WORD Key, bool Release) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = Key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(Key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = Release ? KEYEVENTF_KEYUP : 0;
    if (Key == VK_PRIOR || Key == VK_NEXT || Key == VK_END || Key == VK_HOME) {
        input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    }
    return input;
}

void Tap(std::vector<INPUT>& Inputs, WORD Key, bool Shift = false) {
    if (Shift) {
        Inputs.push_back(KeyInput(VK_SHIFT, false));
    }
    Inputs.push_back(KeyInput(Key, false));
    Inputs.push_back(KeyInput(Key, true));
    if (Shift) {
        Inputs.push_back(KeyInput(VK_SHIFT, true));
    }
}

// The keys of a US keyboard, as the reader types them.
void Type(std::vector<INPUT>& Inputs, const std::string& Text) {
    for (const char c : Text) {
        if (c >= 'a' && c <= 'z') {
            Tap(Inputs, static_cast<WORD>('A' + (c - 'a')));
        } else if (c >= 'A' && c <= 'Z') {
            Tap(Inputs, static_cast<WORD>(c), true);
        } else if (c >= '0' && c <= '9') {
            Tap(Inputs, static_cast<WORD>(c));
        } else if (c == ';') {
            Tap(Inputs, VK_OEM_1);
        } else if (c == '=') {
            Tap(Inputs, VK_OEM_PLUS);
        } else if (c == '?') {
            Tap(Inputs, VK_OEM_2, true);
        } else {
            throw std::invalid_argument(std::string("no key for ") + c);
        }
    }
}

std::wstring Widen(const char* Ascii) {
    std::wstring wide;
    for (const char* c = Ascii; *c != '\0'; ++c) {
        wide += static_cast<wchar_t>(*c == '/' ? '\\' : *c);
    }
    return wide;
}

bool ProcessAlive(DWORD Id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, Id);
    if (process == nullptr) {
        return false;
    }
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

// Folders "wedgecard-extender-<process>-<tick>" of processes that have ended.
void RemoveStaleCopies(const std::wstring& Temp) {
    constexpr const wchar_t* Prefix = L"wedgecard-extender-";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Temp + Prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const auto owner =
            static_cast<DWORD>(std::wcstoul(found.cFileName + std::wcslen(Prefix), nullptr, 10));
        if (ProcessAlive(owner)) {
            continue;
        }
        const std::wstring folder = Temp + found.cFileName + L"\\";
        DeleteFileW((folder + L"Wedgecard.dll").c_str());
        DeleteFileW((folder + L"Wedgecard.log").c_str());
        RemoveDirectoryW(folder.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

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

TVar::TVar(const TVar& Other) {
    VariantInit(&FValue);
    VariantCopy(&FValue, const_cast<VARIANT*>(&Other.FValue));
}

TVar& TVar::operator=(const TVar& Other) {
    if (this != &Other) {
        VariantCopy(&FValue, const_cast<VARIANT*>(&Other.FValue));
    }
    return *this;
}

TVar TVar::Int(LONG Value) {
    TVar var;
    var.FValue.vt = VT_I4;
    var.FValue.lVal = Value;
    return var;
}

TVar TVar::Bool(bool Value) {
    TVar var;
    var.FValue.vt = VT_BOOL;
    var.FValue.boolVal = Value ? VARIANT_TRUE : VARIANT_FALSE;
    return var;
}

TVar TVar::Text(const std::wstring& Value) {
    TVar var;
    var.FValue.vt = VT_BSTR;
    var.FValue.bstrVal = SysAllocStringLen(Value.data(), static_cast<UINT>(Value.size()));
    return var;
}

TVar TVar::Object(IDispatch* Value) {
    TVar var;
    var.FValue.vt = VT_DISPATCH;
    var.FValue.pdispVal = Value;
    if (Value != nullptr) {
        Value->AddRef();
    }
    return var;
}

VARIANT* TVar::Put() noexcept {
    VariantClear(&FValue);
    return &FValue;
}

std::string Describe(const VARIANT& Value) {
    char type[16];
    std::snprintf(type, sizeof type, "vt 0x%04X", Value.vt);
    std::string text = type;
    switch (Value.vt) {
        case VT_BSTR: {
            const std::wstring string = WideOf(Value.bstrVal);
            if (string.size() > 80) {
                return text + " (" + std::to_string(string.size()) + " characters)";
            }
            return text + " \"" + Utf8(string) + "\"";
        }
        case VT_I4:
            return text + " " + std::to_string(Value.lVal);
        case VT_BOOL:
            return text + " " + std::to_string(Value.boolVal);
        default:
            return text;
    }
}

::testing::AssertionResult IsString(const VARIANT& Value, const std::wstring& Expected) {
    if (Value.vt == VT_BSTR && WideOf(Value.bstrVal) == Expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << Describe(Value) << ", expected VT_BSTR \"" << Utf8(Expected) << "\"";
}

::testing::AssertionResult IsBool(const VARIANT& Value, bool Expected) {
    if (Value.vt == VT_BOOL && Value.boolVal == (Expected ? VARIANT_TRUE : VARIANT_FALSE)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << Describe(Value) << ", expected VT_BOOL " << (Expected ? VARIANT_TRUE : VARIANT_FALSE);
}

::testing::AssertionResult IsInt(const VARIANT& Value, LONG Expected) {
    if (Value.vt == VT_I4 && Value.lVal == Expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Describe(Value) << ", expected VT_I4 " << Expected;
}

::testing::AssertionResult IsDeviceID(const VARIANT& Value) {
    const std::wstring text = Value.vt == VT_BSTR ? WideOf(Value.bstrVal) : L"";
    bool valid = text.size() == 36;
    for (std::size_t i = 0; valid && i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        valid = dash ? text[i] == L'-'
                     : (text[i] >= L'0' && text[i] <= L'9') || (text[i] >= L'A' && text[i] <= L'F');
    }
    if (Value.vt == VT_BSTR && valid) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Describe(Value) << ", expected a device identifier";
}

::testing::AssertionResult SameValue(const VARIANT& Actual, const VARIANT& Expected) {
    bool same = Actual.vt == Expected.vt;
    if (same) {
        switch (Actual.vt) {
            case VT_EMPTY:
            case VT_NULL:
                break;
            case VT_BSTR:
                same = WideOf(Actual.bstrVal) == WideOf(Expected.bstrVal);
                break;
            case VT_I4:
                same = Actual.lVal == Expected.lVal;
                break;
            case VT_BOOL:
                same = Actual.boolVal == Expected.boolVal;
                break;
            default:
                same = Actual.llVal == Expected.llVal;
                break;
        }
    }
    if (same) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Describe(Actual) << ", expected " << Describe(Expected);
}

THostArray::THostArray(const std::vector<TVar>& Elements, LONG Lower)
    : FStorage(Elements.size() + 2), FLower(Lower) {
    for (VARIANT& element : FStorage) {
        VariantInit(&element);
    }
    for (VARIANT* guard : {&FStorage.front(), &FStorage.back()}) {
        guard->vt = VT_I4;
        guard->lVal = GuardValue;
    }
    for (std::size_t i = 0; i < Elements.size(); ++i) {
        VariantCopy(&FStorage[i + 1], const_cast<VARIANT*>(&Elements[i].Get()));
    }
    if (FAILED(SafeArrayAllocDescriptorEx(VT_VARIANT, 1, &FDescriptor))) {
        throw std::runtime_error("SafeArrayAllocDescriptorEx failed");
    }
    // The data is this object's: nothing the callee does may free or move it.
    FDescriptor->fFeatures |= FADF_STATIC;
    FDescriptor->cbElements = sizeof(VARIANT);
    FDescriptor->rgsabound[0].cElements = static_cast<ULONG>(Elements.size());
    FDescriptor->rgsabound[0].lLbound = Lower;
    FDescriptor->pvData = FStorage.data() + 1;
    FArray = FDescriptor;
}

THostArray::~THostArray() {
    for (VARIANT& element : FStorage) {
        VariantClear(&element);
    }
    FDescriptor->pvData = nullptr;
    SafeArrayDestroyDescriptor(FDescriptor);
}

const VARIANT& THostArray::operator[](LONG Index) const {
    return FStorage.at(static_cast<std::size_t>(Index - FLower + 1));
}

VARIANT& THostArray::At(LONG Index) {
    return FStorage.at(static_cast<std::size_t>(Index - FLower + 1));
}

::testing::AssertionResult THostArray::Intact() const {
    for (const VARIANT* guard : {&FStorage.front(), &FStorage.back()}) {
        if (guard->vt != VT_I4 || guard->lVal != GuardValue) {
            return ::testing::AssertionFailure() << "a guard element became " << Describe(*guard);
        }
    }
    if (FArray != FDescriptor) {
        return ::testing::AssertionFailure() << "the array pointer was replaced";
    }
    if (FDescriptor->cLocks != 0) {
        return ::testing::AssertionFailure()
               << "the array is left locked " << FDescriptor->cLocks << " times";
    }
    if (FDescriptor->pvData != FStorage.data() + 1 || FDescriptor->rgsabound[0].lLbound != FLower ||
        FDescriptor->rgsabound[0].cElements != FStorage.size() - 2) {
        return ::testing::AssertionFailure() << "the array descriptor was changed";
    }
    return ::testing::AssertionSuccess();
}

ComPtr<TValuesArray> TValuesArray::Create(std::vector<TVar> Values) {
    return ComPtr<TValuesArray>(new TValuesArray(std::move(Values)));
}

ComPtr<TValuesArray> TValuesArray::Bench(const std::wstring& Prefix1) {
    return Create({TVar::Int(100), TVar::Text(Prefix1), TVar::Text(L"#13"), TVar::Text(L"#33"),
                   TVar::Text(L"#34"), TVar::Text(L"#35"), TVar::Text(L"#36"), TVar::Bool(true)});
}

HRESULT TValuesArray::QueryInterface(REFIID Interface, void** Object) {
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

ULONG TValuesArray::Release() {
    const ULONG remaining = --FReferences;
    if (remaining == 0) {
        delete this;
    }
    return remaining;
}

HRESULT TValuesArray::GetTypeInfoCount(UINT* Count) {
    *Count = 0;
    return S_OK;
}

HRESULT TValuesArray::GetTypeInfo(UINT, LCID, ITypeInfo** Info) {
    *Info = nullptr;
    return E_NOTIMPL;
}

HRESULT TValuesArray::GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID, DISPID* IDs) {
    if (Count == 1 && _wcsicmp(Names[0], L"Get") == 0) {
        IDs[0] = 1;
        return S_OK;
    }
    for (UINT i = 0; i < Count; ++i) {
        IDs[i] = DISPID_UNKNOWN;
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT TValuesArray::Invoke(DISPID Member, REFIID, LCID, WORD, DISPPARAMS* Arguments,
                             VARIANT* Result, EXCEPINFO*, UINT*) {
    // No default member: a value array does not turn into a text.
    if (Member != 1) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (Arguments == nullptr || Arguments->cArgs != 1) {
        return DISP_E_BADPARAMCOUNT;
    }
    VARIANT index;
    VariantInit(&index);
    if (FAILED(VariantChangeType(&index, &Arguments->rgvarg[0], 0, VT_I4)) || index.lVal < 0 ||
        static_cast<std::size_t>(index.lVal) >= Values.size()) {
        return DISP_E_BADINDEX;
    }
    if (Result == nullptr) {
        return S_OK;
    }
    VariantInit(Result);
    return VariantCopy(Result, Values[static_cast<std::size_t>(index.lVal)].Address());
}

void PrintTo(const THostEvent& Event, std::ostream* Stream) {
    *Stream << "{\"" << Utf8(Event.Source) << "\", \"" << Utf8(Event.Message) << "\", \""
            << Utf8(Event.Data) << "\"}";
}

ComPtr<TConnection> TConnection::Create(bool AsyncEvent) {
    return ComPtr<TConnection>(new TConnection(AsyncEvent));
}

HRESULT TConnection::QueryInterface(REFIID Interface, void** Object) {
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

ULONG TConnection::Release() {
    const ULONG remaining = --FReferences;
    if (remaining == 0) {
        delete this;
    }
    return remaining;
}

HRESULT TConnection::GetTypeInfoCount(UINT* Count) {
    *Count = 0;
    return S_OK;
}

HRESULT TConnection::GetTypeInfo(UINT, LCID, ITypeInfo** Info) {
    *Info = nullptr;
    return E_NOTIMPL;
}

HRESULT TConnection::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return DISP_E_UNKNOWNNAME;
}

HRESULT TConnection::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT TConnection::GetEventBufferDepth(long* Depth) {
    *Depth = 1;
    return S_OK;
}

HRESULT TConnection::ExternalEvent(BSTR Source, BSTR Message, BSTR Data) {
    const THostEvent event{WideOf(Source), WideOf(Message), WideOf(Data)};
    Events.push_back(event);
    // The handler may call the driver back and so receive the next event from inside.
    if (OnEvent) {
        OnEvent(event);
    }
    return S_OK;
}

TBstrArg::TBstrArg(const std::wstring& Text)
    : FValue(SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()))) {}

std::wstring TBstrArg::Text() const {
    return WideOf(FValue);
}

TAllocationSpy::TAllocationSpy() {
    // Registered once for the process and never revoked: a revocation waits for every block
    // allocated meanwhile, and a later test of the same process could not register again.
    static const HRESULT registration = CoRegisterMallocSpy(&Spy());
    FRegistered = SUCCEEDED(registration);
}

TAllocationSpy::~TAllocationSpy() = default;

std::size_t TAllocationSpy::LiveBlocksOfAtLeast(std::size_t Bytes) const {
    return Spy().LiveBlocksOfAtLeast(Bytes);
}

void ExtenderTest::SetUp() {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    FComStarted = true;
    CLSID driverClass{};
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(L"Addin.LumMSRKBD1C", &driverClass))
        << "the driver is not registered";
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(driverClass, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_ILumMSRKBD1C,
                                              reinterpret_cast<void**>(Driver.GetAddressOf())));
    ASSERT_HRESULT_SUCCEEDED(Driver.As(&Extender));
    ASSERT_HRESULT_SUCCEEDED(Driver.As(&InitDone));
}

void ExtenderTest::TearDown() {
    InitDone.Reset();
    Extender.Reset();
    Driver.Reset();
    if (FComStarted) {
        CoUninitialize();
    }
}

HRESULT ExtenderTest::Call(long Method, THostArray& Arguments, TVar& Result) {
    return Extender->CallAsFunc(Method, Result.Address(), Arguments.Put());
}

std::wstring ExtenderTest::Open(IDispatch* Settings) {
    THostArray arguments({TVar::Object(Settings), TVar()});
    TVar result;
    EXPECT_EQ(Call(mOpen, arguments, result), S_OK);
    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_TRUE(IsDeviceID(arguments[1]));
    return arguments[1].vt == VT_BSTR ? WideOf(arguments[1].bstrVal) : L"";
}

bool ExtenderTest::Close(const std::wstring& DeviceID) {
    THostArray arguments({TVar::Text(DeviceID)});
    TVar result;
    EXPECT_EQ(Call(mClose, arguments, result), S_OK);
    EXPECT_EQ(result.Get().vt, VT_BOOL);
    return result.Get().vt == VT_BOOL && result.Get().boolVal == VARIANT_TRUE;
}

std::pair<LONG, std::wstring> ExtenderTest::LastError() {
    THostArray arguments({TVar()});
    TVar result;
    EXPECT_EQ(Call(mGetLastError, arguments, result), S_OK);
    EXPECT_EQ(result.Get().vt, VT_I4);
    EXPECT_EQ(arguments[0].vt, VT_BSTR);
    return {result.Get().lVal, arguments[0].vt == VT_BSTR ? WideOf(arguments[0].bstrVal) : L""};
}

std::wstring ExtenderTest::Version() {
    THostArray none;
    TVar result;
    EXPECT_EQ(Call(mGetVersion, none, result), S_OK);
    return result.Get().vt == VT_BSTR ? WideOf(result.Get().bstrVal) : L"(not a string)";
}

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (Done()) {
                return true;
            }
        }
        if (Done()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()) + 1, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

TFocusWindow::TFocusWindow() {
    static const ATOM windowClass = [] {
        WNDCLASSW registration{};
        registration.lpfnWndProc = &TFocusWindow::WindowProc;
        registration.hInstance = GetModuleHandleW(nullptr);
        registration.lpszClassName = L"WedgecardExtenderTestWindow";
        return RegisterClassW(&registration);
    }();
    if (windowClass == 0) {
        throw std::runtime_error("RegisterClassW failed");
    }
    FHandle =
        CreateWindowExW(0, L"WedgecardExtenderTestWindow", L"Extender test", WS_OVERLAPPEDWINDOW,
                        60, 60, 320, 160, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (FHandle == nullptr) {
        throw std::runtime_error("CreateWindowExW failed");
    }
}

TFocusWindow::~TFocusWindow() {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
}

bool TFocusWindow::Activate() {
    ShowWindow(FHandle, SW_SHOWNORMAL);
    SetForegroundWindow(FHandle);
    SetFocus(FHandle);
    // The display server activates a window asynchronously; its messages bring the news.
    return PumpUntil(
        [this] {
            if (GetFocus() != FHandle) {
                SetFocus(FHandle);
            }
            return GetForegroundWindow() == FHandle && GetFocus() == FHandle;
        },
        5s);
}

LRESULT CALLBACK TFocusWindow::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    if (Message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(LParam);
        SetWindowLongPtrW(Window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TFocusWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (self != nullptr && Message == WM_CHAR) {
        self->FChars += static_cast<wchar_t>(WParam);
        return 0;
    }
    return DefWindowProcW(Window, Message, WParam, LParam);
}

bool TypeBenchCard(const std::string& After) {
    std::vector<INPUT> inputs;
    Tap(inputs, VK_TAB);
    Type(inputs, ";12345=67890?");
    Tap(inputs, VK_RETURN);
    Tap(inputs, VK_PRIOR);
    Type(inputs, "Track2");
    Tap(inputs, VK_NEXT);
    Tap(inputs, VK_END);
    Type(inputs, "Track3");
    Tap(inputs, VK_HOME);
    Type(inputs, After);
    const auto count = static_cast<UINT>(inputs.size());
    return SendInput(count, inputs.data(), sizeof(INPUT)) == count;
}

TPrivateDriver::TPrivateDriver() {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        throw std::runtime_error("GetTempPathW failed");
    }
    RemoveStaleCopies(temp);
    FFolder = std::wstring(temp) + L"wedgecard-extender-" + std::to_wstring(GetCurrentProcessId()) +
              L"-" + std::to_wstring(GetTickCount64()) + L"\\";
    const std::wstring module = FFolder + L"Wedgecard.dll";
    if (!CreateDirectoryW(FFolder.c_str(), nullptr) ||
        !CopyFileW(Widen(WEDGECARD_DRIVER_DLL).c_str(), module.c_str(), TRUE)) {
        throw std::runtime_error("cannot copy the driver module");
    }
    FModule = LoadLibraryW(module.c_str());
    if (FModule == nullptr) {
        throw std::runtime_error("cannot load the copy of the driver module");
    }
}

TPrivateDriver& TPrivateDriver::Instance() {
    // The module stays loaded: its log file and windows live until the process ends, and a
    // later run removes the folder.
    static TPrivateDriver driver;
    return driver;
}

ComPtr<ILanguageExtender> TPrivateDriver::Create() {
    const auto getClassObject = reinterpret_cast<TDllGetClassObject>(
        reinterpret_cast<TGenericFunction>(GetProcAddress(FModule, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<ILanguageExtender> extender;
    if (getClassObject == nullptr ||
        FAILED(getClassObject(CLSID_LumMSRKBD1C, IID_IClassFactory,
                              reinterpret_cast<void**>(factory.GetAddressOf()))) ||
        FAILED(factory->CreateInstance(nullptr, IID_ILanguageExtender,
                                       reinterpret_cast<void**>(extender.GetAddressOf())))) {
        return nullptr;
    }
    return extender;
}

std::string TPrivateDriver::LogContent() const {
    // The driver keeps the file open for writing and lets others read it.
    HANDLE file = CreateFileW((FFolder + L"Wedgecard.log").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return content;
}

std::size_t TPrivateDriver::LogSize() const {
    return LogContent().size();
}

std::vector<TPrivateDriver::TLine> TPrivateDriver::LogLines(std::size_t From) const {
    const std::string content = LogContent();
    // "[date time] [thread] [LEVEL] Logger text"
    char thread[16];
    std::snprintf(thread, sizeof thread, "] [%.8lu] [", GetCurrentThreadId());
    std::vector<TLine> lines;
    std::istringstream stream(content.substr(std::min(From, content.size())));
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t marker = line.find(thread);
        if (marker == std::string::npos) {
            continue;
        }
        const std::size_t levelStart = marker + std::char_traits<char>::length(thread);
        const std::size_t levelEnd = line.find("] ", levelStart);
        if (levelEnd == std::string::npos) {
            continue;
        }
        TLine parsed;
        parsed.Level = line.substr(levelStart, levelEnd - levelStart);
        const std::string rest = line.substr(levelEnd + 2);
        const std::size_t blank = rest.find(' ');
        parsed.Logger = rest.substr(0, blank);
        parsed.Text = blank == std::string::npos ? "" : rest.substr(blank + 1);
        lines.push_back(std::move(parsed));
    }
    return lines;
}

void PrintTo(const TPrivateDriver::TLine& Line, std::ostream* Stream) {
    *Stream << "[" << Line.Level << "] " << Cp1251ToUtf8(Line.Logger) << " "
            << Cp1251ToUtf8(Line.Text);
}

}  // namespace wedgecard::extender_test
