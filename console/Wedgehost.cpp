// Wedgehost: drives the driver the way the 1C host does, from a console. It creates the driver
// by its ProgID, connects an event sink through IInitDone, learns the methods through the
// language extender and calls them with arrays of arguments, opens one device, prints every
// event as a line of JSON and acknowledges it. Optionally it types a card into its own window.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/KeystrokeSender.h"
#include "driver/host/LanguageExtender.h"

namespace {

constexpr UINT WM_HOST_EVENT = WM_APP + 1;
constexpr UINT WM_HOST_SWIPE = WM_APP + 2;

const char* const Usage =
    "Usage: Wedgehost [options]\n"
    "\n"
    "Drives the card reader driver (Addin.LumMSRKBD1C) as the 1C host does: through its\n"
    "language extender, by method name. Opens one device, prints each event on standard output\n"
    "as one line of JSON, {\"source\":...,\"message\":...,\"data\":...}, and acknowledges it.\n"
    "Messages about the run go to standard error. Ends on Ctrl+C, at the end of standard input,\n"
    "after --events events or after --timeout seconds.\n"
    "\n"
    "Device settings (the test bench's defaults):\n"
    "  --sensitivity MS     quiet time that ends a burst of keys (100)\n"
    "  --prefix1 CODES      key codes before track 1, such as #9 or #9#13 (#9)\n"
    "  --suffix1 CODES      after track 1 (#13); likewise --prefix2 (#33), --suffix2 (#34),\n"
    "                       --prefix3 (#35), --suffix3 (#36); an empty text for none\n"
    "  --no-log             switch the driver's log file off\n"
    "\n"
    "Swipe simulation:\n"
    "  --swipe              once the device is open, type a card into this program's window\n"
    "  --track1 TEXT        what --swipe types as track 1 (;12345=67890?)\n"
    "  --track2 TEXT        track 2 (Track2); --track3 TEXT, track 3 (Track3)\n"
    "\n"
    "Run:\n"
    "  --events N           end after N events; standard input is then not read\n"
    "  --timeout SECONDS    end after this long (exit status 3 if --events were not all seen)\n"
    "  --russian            find the methods by their Russian names\n"
    "  --help               this text\n";

struct TOptions {
    int Sensitivity = 100;
    std::array<std::string, 6> Codes{"#9", "#13", "#33", "#34", "#35", "#36"};
    bool LogEnabled = true;
    bool Swipe = false;
    std::array<std::string, 3> Tracks{";12345=67890?", "Track2", "Track3"};
    int Events = 0;
    int TimeoutSeconds = 0;
    bool Russian = false;
};

std::string Utf8(const std::wstring& Text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

std::wstring Wide(const std::string& Utf8Text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, Utf8Text.data(),
                                         static_cast<int>(Utf8Text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Utf8Text.data(), static_cast<int>(Utf8Text.size()), wide.data(),
                        size);
    return wide;
}

std::string Json(const std::wstring& Text) {
    std::string quoted = "\"";
    for (const char c : Utf8(Text)) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    quoted += escaped;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

[[noreturn]] void Fail(const std::string& Message) {
    throw std::runtime_error(Message);
}

void Check(HRESULT Status, const char* What) {
    if (FAILED(Status)) {
        char text[160];
        std::snprintf(text, sizeof text, "%s failed: 0x%08lX", What,
                      static_cast<unsigned long>(Status));
        Fail(text);
    }
}

// A minimal IUnknown base for the host's own objects, which live on the stack of main.
template <class... TInterfaces>
class TStackObject : public TInterfaces... {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// The settings array: a late-bound object with the one method the driver calls, Get(Index).
class TSettingsArray final : public TStackObject<IDispatch> {
public:
    explicit TSettingsArray(const TOptions& Options) {
        Values.resize(8);
        for (VARIANT& value : Values) {
            VariantInit(&value);
        }
        Values[0].vt = VT_I4;
        Values[0].lVal = Options.Sensitivity;
        for (std::size_t i = 0; i < 6; ++i) {
            Values[i + 1].vt = VT_BSTR;
            Values[i + 1].bstrVal = SysAllocString(Wide(Options.Codes[i]).c_str());
        }
        Values[7].vt = VT_BOOL;
        Values[7].boolVal = Options.LogEnabled ? VARIANT_TRUE : VARIANT_FALSE;
    }
    ~TSettingsArray() {
        for (VARIANT& value : Values) {
            VariantClear(&value);
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        if (Object == nullptr) {
            return E_POINTER;
        }
        *Object = nullptr;
        if (Interface != IID_IUnknown && Interface != IID_IDispatch) {
            return E_NOINTERFACE;
        }
        *Object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override {
        *Count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID,
                                            DISPID* IDs) override {
        if (Count != 1 || _wcsicmp(Names[0], L"Get") != 0) {
            return DISP_E_UNKNOWNNAME;
        }
        IDs[0] = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID Member, REFIID, LCID, WORD, DISPPARAMS* Arguments,
                                     VARIANT* Result, EXCEPINFO*, UINT*) override {
        if (Member != 1 || Arguments == nullptr || Arguments->cArgs != 1) {
            return DISP_E_MEMBERNOTFOUND;
        }
        VARIANT index;
        VariantInit(&index);
        if (FAILED(VariantChangeType(&index, &Arguments->rgvarg[0], 0, VT_I4)) || index.lVal < 0 ||
            static_cast<std::size_t>(index.lVal) >= Values.size()) {
            return DISP_E_BADINDEX;
        }
        return Result != nullptr
                   ? VariantCopy(Result, &Values[static_cast<std::size_t>(index.lVal)])
                   : S_OK;
    }

private:
    std::vector<VARIANT> Values;
};

struct THostEvent {
    std::wstring Source;
    std::wstring Message;
    std::wstring Data;
};

// The connection object handed to IInitDone::Init; it answers for IAsyncEvent and queues each
// event for the message loop, as the host queues them for its program.
class TConnection final : public TStackObject<IDispatch, IAsyncEvent> {
public:
    explicit TConnection(DWORD Thread) : FThread(Thread) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        if (Object == nullptr) {
            return E_POINTER;
        }
        *Object = nullptr;
        if (Interface == IID_IUnknown || Interface == IID_IDispatch) {
            *Object = static_cast<IDispatch*>(this);
        } else if (Interface == IID_IAsyncEvent) {
            *Object = static_cast<IAsyncEvent*>(this);
        } else {
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override {
        *Count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE SetEventBufferDepth(long) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetEventBufferDepth(long*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CleanBuffer() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR Source, BSTR Message, BSTR Data) override {
        auto text = [](BSTR value) {
            return value == nullptr ? std::wstring() : std::wstring(value, SysStringLen(value));
        };
        auto* event = new THostEvent{text(Source), text(Message), text(Data)};
        if (!PostThreadMessageW(FThread, WM_HOST_EVENT, 0, reinterpret_cast<LPARAM>(event))) {
            delete event;
            return E_FAIL;
        }
        return S_OK;
    }

private:
    DWORD FThread;
};

// The driver as the host sees it: methods by number, arguments in an array of variants.
class TExtender {
public:
    TExtender(ILanguageExtender* Extender, bool Russian) : FExtender(Extender) {
        const std::map<std::string, std::wstring> russian = {
            {"GetVersion", L"ПолучитьНомерВерсии"},
            {"GetLastError", L"ПолучитьОшибку"},
            {"Open", L"Подключить"},
            {"Close", L"Отключить"},
            {"EventProcessed", L"СобытиеОбработано"},
            {"DeviceTest", L"ТестУстройства"}};
        for (const auto& [english, alias] : russian) {
            const std::wstring name = Russian ? alias : Wide(english);
            BSTR wanted = SysAllocString(name.c_str());
            long number = -1;
            const HRESULT status = FExtender->FindMethod(wanted, &number);
            SysFreeString(wanted);
            if (status != S_OK) {
                Fail("the driver has no method " + Utf8(name));
            }
            long parameters = 0;
            FExtender->GetNParams(number, &parameters);
            FMethods[english] = {number, parameters};
        }
    }

    // Calls the method with Arguments (a VT_EMPTY element receives an [out] string) and gives
    // the result; Arguments hold what the method wrote back.
    VARIANT Call(const std::string& Method, std::vector<VARIANT>& Arguments) {
        const auto& [number, count] = FMethods.at(Method);
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
        for (LONG i = 0; i < count && static_cast<std::size_t>(i) < Arguments.size(); ++i) {
            SafeArrayPutElement(array, &i, &Arguments[static_cast<std::size_t>(i)]);
        }
        VARIANT result;
        VariantInit(&result);
        const HRESULT status = FExtender->CallAsFunc(number, &result, &array);
        for (LONG i = 0; i < count && static_cast<std::size_t>(i) < Arguments.size(); ++i) {
            VariantClear(&Arguments[static_cast<std::size_t>(i)]);
            SafeArrayGetElement(array, &i, &Arguments[static_cast<std::size_t>(i)]);
        }
        SafeArrayDestroy(array);
        Check(status, Method.c_str());
        return result;
    }

    // "(code) text" of the driver's last error.
    std::string LastError() {
        std::vector<VARIANT> arguments(1);
        VariantInit(&arguments[0]);
        VARIANT code = Call("GetLastError", arguments);
        std::string text = "(" + std::to_string(code.lVal) + ") ";
        if (arguments[0].vt == VT_BSTR && arguments[0].bstrVal != nullptr) {
            text += Utf8(arguments[0].bstrVal);
        }
        VariantClear(&arguments[0]);
        return text;
    }

private:
    ILanguageExtender* FExtender;
    std::map<std::string, std::pair<long, long>> FMethods;
};

std::atomic<DWORD> MainThread{0};

BOOL WINAPI OnConsoleControl(DWORD) {
    PostThreadMessageW(MainThread, WM_QUIT, 0, 0);
    return TRUE;
}

// The window the simulated reader types into; it shows whatever typing reaches it.
HWND CreateTypingWindow() {
    HWND window =
        CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_LEFT, 40, 40, 480,
                        60, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        Fail("cannot create the window to type into");
    }
    SetWindowTextW(window, L"");
    SetForegroundWindow(window);
    SetFocus(window);
    return window;
}

TOptions ParseOptions(int Count, char** Arguments) {
    TOptions options;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= Count) {
            Fail(std::string("missing value after ") + Arguments[i]);
        }
        return Arguments[++i];
    };
    auto number = [&](int& i) {
        const std::string text = value(i);
        char* end = nullptr;
        const long parsed = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || parsed < 0 || parsed > 1000000) {
            Fail("not a number: " + text);
        }
        return static_cast<int>(parsed);
    };
    const std::array<std::string, 6> codeOptions{"--prefix1", "--suffix1", "--prefix2",
                                                 "--suffix2", "--prefix3", "--suffix3"};
    for (int i = 1; i < Count; ++i) {
        const std::string option = Arguments[i];
        bool known = true;
        if (option == "--help" || option == "-h" || option == "/?") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (option == "--sensitivity") {
            options.Sensitivity = number(i);
        } else if (option == "--no-log") {
            options.LogEnabled = false;
        } else if (option == "--swipe") {
            options.Swipe = true;
        } else if (option == "--track1" || option == "--track2" || option == "--track3") {
            options.Tracks[static_cast<std::size_t>(option.back() - '1')] = value(i);
        } else if (option == "--events") {
            options.Events = number(i);
        } else if (option == "--timeout") {
            options.TimeoutSeconds = number(i);
        } else if (option == "--russian") {
            options.Russian = true;
        } else {
            known = false;
            for (std::size_t c = 0; c < codeOptions.size(); ++c) {
                if (option == codeOptions[c]) {
                    options.Codes[c] = value(i);
                    known = true;
                }
            }
        }
        if (!known) {
            Fail("unknown option " + option + " (see --help)");
        }
    }
    return options;
}

int Run(const TOptions& Options) {
    MainThread = GetCurrentThreadId();
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here

    CLSID driverClass;
    Check(CLSIDFromProgID(L"Addin.LumMSRKBD1C", &driverClass),
          "finding Addin.LumMSRKBD1C (is the driver registered?)");
    Microsoft::WRL::ComPtr<IDispatch> driver;
    Check(CoCreateInstance(driverClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &driver),
          "creating the driver");
    Microsoft::WRL::ComPtr<IInitDone> initDone;
    Microsoft::WRL::ComPtr<ILanguageExtender> extender;
    Check(driver->QueryInterface(IID_IInitDone, &initDone), "asking for IInitDone");
    Check(driver->QueryInterface(IID_ILanguageExtender, &extender), "asking for ILanguageExtender");

    TConnection connection(MainThread);
    Check(initDone->Init(static_cast<IDispatch*>(&connection)), "Init");
    SAFEARRAY* info = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    initDone->GetInfo(&info);
    VARIANT infoValue;
    VariantInit(&infoValue);
    LONG zero = 0;
    SafeArrayGetElement(info, &zero, &infoValue);
    SafeArrayDestroy(info);
    BSTR extension = SysAllocString(L"");
    extender->RegisterExtensionAs(&extension);
    std::fprintf(stderr, "driver: component %s, SDK version %s\n",
                 Utf8(extension != nullptr ? extension : L"").c_str(),
                 infoValue.vt == VT_BSTR ? Utf8(infoValue.bstrVal).c_str() : "?");
    SysFreeString(extension);
    VariantClear(&infoValue);

    TExtender methods(extender.Get(), Options.Russian);
    std::vector<VARIANT> none;
    VARIANT version = methods.Call("GetVersion", none);
    std::fprintf(stderr, "driver: version %s\n",
                 version.vt == VT_BSTR ? Utf8(version.bstrVal).c_str() : "?");
    VariantClear(&version);

    TSettingsArray settings(Options);
    std::vector<VARIANT> openArguments(2);
    VariantInit(&openArguments[0]);
    VariantInit(&openArguments[1]);
    openArguments[0].vt = VT_DISPATCH;
    openArguments[0].pdispVal = static_cast<IDispatch*>(&settings);
    VARIANT opened = methods.Call("Open", openArguments);
    openArguments[0].vt = VT_EMPTY;  // not ours to release
    if (opened.vt != VT_BOOL || opened.boolVal == VARIANT_FALSE) {
        Fail("Open: " + methods.LastError());
    }
    const std::wstring deviceID =
        openArguments[1].vt == VT_BSTR ? std::wstring(openArguments[1].bstrVal) : L"";
    VariantClear(&openArguments[1]);
    std::fprintf(stderr, "driver: device %s open\n", Utf8(deviceID).c_str());
    std::fflush(stderr);

    HWND window = nullptr;
    if (Options.Swipe) {
        window = CreateTypingWindow();
        PostThreadMessageW(MainThread, WM_HOST_SWIPE, 0, 0);
    }
    // A timer without a window gets an identifier of the system's choosing, not the one asked
    // for: its messages are known by the identifier SetTimer returns.
    UINT_PTR timeoutTimer = 0;
    if (Options.TimeoutSeconds > 0) {
        timeoutTimer =
            SetTimer(nullptr, 0, static_cast<UINT>(Options.TimeoutSeconds) * 1000, nullptr);
    }
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    if (Options.Events == 0) {
        // The end of standard input ends the run.
        std::thread([] {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
            }
            PostThreadMessageW(MainThread, WM_QUIT, 0, 0);
        }).detach();
    }

    int seen = 0;
    int exitCode = 0;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_HOST_EVENT) {
            const std::unique_ptr<THostEvent> event(reinterpret_cast<THostEvent*>(message.lParam));
            std::printf("{\"source\":%s,\"message\":%s,\"data\":%s}\n", Json(event->Source).c_str(),
                        Json(event->Message).c_str(), Json(event->Data).c_str());
            std::fflush(stdout);
            std::vector<VARIANT> acknowledgement(2);
            VariantInit(&acknowledgement[0]);
            VariantInit(&acknowledgement[1]);
            acknowledgement[0].vt = VT_BSTR;
            acknowledgement[0].bstrVal = SysAllocString(event->Source.c_str());
            acknowledgement[1].vt = VT_BOOL;
            acknowledgement[1].boolVal = VARIANT_TRUE;
            VARIANT acknowledged = methods.Call("EventProcessed", acknowledgement);
            VariantClear(&acknowledgement[0]);
            VariantClear(&acknowledgement[1]);
            VariantClear(&acknowledged);
            if (Options.Events > 0 && ++seen >= Options.Events) {
                break;
            }
            continue;
        }
        if (message.hwnd == nullptr && message.message == WM_HOST_SWIPE) {
            // Keys go to the foreground window: wait (a little) until that is ours.
            if (GetForegroundWindow() != window && message.wParam < 40) {
                SetForegroundWindow(window);
                SetFocus(window);
                Sleep(25);
                PostThreadMessageW(MainThread, WM_HOST_SWIPE, message.wParam + 1, 0);
                continue;
            }
            benchpad::SendTracks(
                {benchpad::TTrackText{Options.Codes[0], Options.Tracks[0], Options.Codes[1]},
                 benchpad::TTrackText{Options.Codes[2], Options.Tracks[1], Options.Codes[3]},
                 benchpad::TTrackText{Options.Codes[4], Options.Tracks[2], Options.Codes[5]}});
            continue;
        }
        if (message.hwnd == nullptr && message.message == WM_TIMER && timeoutTimer != 0 &&
            message.wParam == timeoutTimer) {
            std::fprintf(stderr, "driver: timed out\n");
            if (Options.Events > 0 && seen < Options.Events) {
                exitCode = 3;
            }
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    std::vector<VARIANT> closeArguments(1);
    VariantInit(&closeArguments[0]);
    closeArguments[0].vt = VT_BSTR;
    closeArguments[0].bstrVal = SysAllocString(deviceID.c_str());
    VARIANT closed = methods.Call("Close", closeArguments);
    VariantClear(&closeArguments[0]);
    std::fprintf(stderr, "driver: device closed: %s\n",
                 closed.vt == VT_BOOL && closed.boolVal != VARIANT_FALSE ? "true" : "false");
    VariantClear(&closed);
    if (window != nullptr) {
        DestroyWindow(window);
    }
    initDone->Done();
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const TOptions options = ParseOptions(argc, argv);
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
            Fail("COM could not start");
        }
        const int result = Run(options);
        CoUninitialize();
        return result;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Wedgehost: %s\n", error.what());
        return 2;
    }
}
