#include "tests/windows/dialog/UiTest.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <utility>

namespace wedgecard::test {

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return Done();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

namespace {

INPUT Key(WORD Code, bool Up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = Code;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(Code, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = Up ? KEYEVENTF_KEYUP : 0;
    return input;
}

void Send(std::vector<INPUT>& Inputs) {
    SendInput(static_cast<UINT>(Inputs.size()), Inputs.data(), sizeof(INPUT));
}

}  // namespace

void TypeKeys(std::initializer_list<WORD> Codes, bool Shift) {
    if (Shift) {
        TypeKeysHolding({VK_SHIFT}, Codes);
    } else {
        TypeKeysHolding({}, Codes);
    }
}

void TypeKeysHolding(std::initializer_list<WORD> Held, std::initializer_list<WORD> Codes) {
    std::vector<INPUT> inputs;
    for (const WORD held : Held) {
        inputs.push_back(Key(held, false));
    }
    for (const WORD code : Codes) {
        inputs.push_back(Key(code, false));
        inputs.push_back(Key(code, true));
    }
    for (auto held = std::rbegin(Held); held != std::rend(Held); ++held) {
        inputs.push_back(Key(*held, true));
    }
    Send(inputs);
}

bool WaitUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return Done();
        }
        Sleep(10);
    }
    return true;
}

void ClickAt(POINT Screen, TMouseButton Button, int Clicks) {
    const bool left = Button == TMouseButton::Left;
    std::vector<INPUT> inputs(1 + 2 * static_cast<std::size_t>(Clicks));
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        INPUT& input = inputs[i];
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(Screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        input.mi.dy = MulDiv(Screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
        input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        if (i > 0) {
            const bool down = i % 2 == 1;
            input.mi.dwFlags |= left ? (down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP)
                                     : (down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP);
        }
    }
    Send(inputs);
}

void ClickOn(HWND Window, TMouseButton Button, int Clicks) {
    RECT place{};
    GetWindowRect(Window, &place);
    ClickAt(POINT{(place.left + place.right) / 2, (place.top + place.bottom) / 2}, Button, Clicks);
}

std::wstring TextOf(HWND Window) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(Window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                        SMTO_BLOCK, 2000, &copied);
    return std::wstring(buffer, copied);
}

HWND ActiveWindowOf(DWORD Thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(Thread, &info) ? info.hwndActive : nullptr;
}

HWND FocusOf(DWORD Thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(Thread, &info) ? info.hwndFocus : nullptr;
}

RECT PlaceOf(HWND Window) {
    RECT place{};
    GetWindowRect(Window, &place);
    if (HWND parent = GetAncestor(Window, GA_PARENT); parent != GetDesktopWindow()) {
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
    }
    return place;
}

namespace {

std::wstring ClassOf(HWND Window) {
    wchar_t name[64] = {};
    GetClassNameW(Window, name, static_cast<int>(std::size(name)));
    return name;
}

}  // namespace

namespace {

BOOL CALLBACK ReadMessageBoxControl(HWND Child, LPARAM Found) {
    auto& box = *reinterpret_cast<TMessageBox*>(Found);
    if (ClassOf(Child) == L"Static" && IsWindowVisible(Child)) {
        const auto style = static_cast<DWORD>(GetWindowLongW(Child, GWL_STYLE));
        if ((style & SS_TYPEMASK) == SS_ICON) {
            box.HasIcon = SendMessageW(Child, STM_GETICON, 0, 0) != 0;
        } else if (const std::wstring text = TextOf(Child); !text.empty()) {
            box.Text = text;
        }
    }
    return TRUE;
}

BOOL CALLBACK FindMessageBoxWindow(HWND Window, LPARAM Found) {
    if (!IsWindowVisible(Window) || ClassOf(Window) != L"#32770") {
        return TRUE;
    }
    auto& box = *reinterpret_cast<TMessageBox*>(Found);
    box.Handle = Window;
    box.Caption = TextOf(Window);
    EnumChildWindows(Window, &ReadMessageBoxControl, Found);
    return FALSE;
}

}  // namespace

TMessageBox FindMessageBox(DWORD Thread) {
    TMessageBox found;
    EnumThreadWindows(Thread, &FindMessageBoxWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

TMessageBox WaitForMessageBox(DWORD Thread, std::chrono::milliseconds Limit) {
    TMessageBox box;
    WaitUntil(
        [&] {
            box = FindMessageBox(Thread);
            return box.Handle != nullptr && GetForegroundWindow() == box.Handle;
        },
        Limit);
    return box;
}

bool CloseMessageBox(const TMessageBox& Box) {
    HWND button = FindWindowExW(Box.Handle, nullptr, L"Button", nullptr);
    if (button == nullptr) {
        return false;
    }
    const auto gone = [&] { return !IsWindow(Box.Handle) || !IsWindowVisible(Box.Handle); };
    ClickOn(button);
    if (WaitUntil(gone)) {
        return true;
    }
    // Wine now and then loses a click on a box that has been up a while. A second click of the
    // mouse could land on the window below once the box goes; the button is pressed directly.
    PostMessageW(button, BM_CLICK, 0, 0);
    return WaitUntil(gone);
}

namespace {

using namespace std::string_literals;

std::uint32_t Crc32(const std::string& Bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> result{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            result[n] = c;
        }
        return result;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : Bytes) {
        crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

void PutBigEndian(std::string& Out, std::uint32_t Value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        Out += static_cast<char>((Value >> shift) & 0xFF);
    }
}

void PutChunk(std::string& Out, const char* Type, const std::string& Data) {
    PutBigEndian(Out, static_cast<std::uint32_t>(Data.size()));
    const std::string typed = Type + Data;
    Out += typed;
    PutBigEndian(Out, Crc32(typed));
}

// A zlib stream of stored (uncompressed) blocks: a screenshot of one small window needs no
// more.
std::string StoredZlib(const std::string& Raw) {
    std::string out = "\x78\x01";
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min<std::size_t>(Raw.size() - offset, 65535);
        const bool last = offset + length == Raw.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(length & 0xFF);
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(~length & 0xFF);
        out += static_cast<char>((~length >> 8) & 0xFF);
        out.append(Raw, offset, length);
        offset += length;
    } while (offset < Raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const char byte : Raw) {
        a = (a + static_cast<unsigned char>(byte)) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(out, (b << 16) | a);
    return out;
}

}  // namespace

namespace {

// A 32-bit top-down bitmap of Width x Height that Draw paints from the window's DC into the
// memory DC; its pixels afterwards.
template <class TDraw>
std::vector<std::uint32_t> Pixels(HWND Window, int Width, int Height, TDraw&& Draw) {
    std::vector<std::uint32_t> result;
    if (Width <= 0 || Height <= 0) {
        return result;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = -Height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC window = GetWindowDC(Window);
    HDC memory = CreateCompatibleDC(window);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool drawn = bits != nullptr && Draw(memory, window);
    GdiFlush();
    if (drawn) {
        const auto* first = static_cast<const std::uint32_t*>(bits);
        result.assign(first,
                      first + static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height));
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(Window, window);
    return result;
}

}  // namespace

std::vector<std::uint32_t> ShownPixels(HWND Window, const RECT& Area) {
    const int width = Area.right - Area.left;
    const int height = Area.bottom - Area.top;
    return Pixels(Window, width, height, [&](HDC Memory, HDC WindowDC) {
        return BitBlt(Memory, 0, 0, width, height, WindowDC, Area.left, Area.top, SRCCOPY) != FALSE;
    });
}

std::vector<std::uint32_t> PrintedPixels(HWND Window) {
    RECT frame{};
    GetWindowRect(Window, &frame);
    return Pixels(Window, frame.right - frame.left, frame.bottom - frame.top,
                  [&](HDC Memory, HDC) { return PrintWindow(Window, Memory, 0) != FALSE; });
}

bool SavePicture(HWND Window, const char* Path) {
    RECT frame{};
    GetWindowRect(Window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const std::vector<std::uint32_t> pixels = ShownPixels(Window, RECT{0, 0, width, height});
    if (pixels.empty()) {
        return false;
    }
    std::string raw;
    const auto columns = static_cast<std::size_t>(width);
    const auto rows = static_cast<std::size_t>(height);
    for (std::size_t y = 0; y < rows; ++y) {
        raw += '\0';  // no filter
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint32_t pixel = pixels[y * columns + x];
            raw += static_cast<char>((pixel >> 16) & 0xFF);
            raw += static_cast<char>((pixel >> 8) & 0xFF);
            raw += static_cast<char>(pixel & 0xFF);
        }
    }

    std::string header;
    PutBigEndian(header, static_cast<std::uint32_t>(width));
    PutBigEndian(header, static_cast<std::uint32_t>(height));
    header += "\x08\x02\x00\x00\x00"s;  // 8 bits, RGB, deflate, no filter, no interlace
    std::string png = "\x89PNG\r\n\x1A\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", StoredZlib(raw));
    PutChunk(png, "IEND", "");
    std::ofstream file(Path, std::ios::binary);
    file.write(png.data(), static_cast<std::streamsize>(png.size()));
    return file.good();
}

TUser::TUser(std::function<void(TUser&)> Body) : UiThread(GetCurrentThreadId()) {
    FThread = std::thread([this, Body = std::move(Body)] {
        try {
            Body(*this);
        } catch (const std::exception& error) {
            Check(false, std::string("the user's script failed: ") + error.what());
        }
        // The script's last input may be what closes the dialog: it has its time first. A
        // message posted now would overtake it, the queue serving posted messages before input.
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (Dialog != nullptr && IsWindowVisible(Dialog) &&
               std::chrono::steady_clock::now() < deadline) {
            Sleep(10);
        }
        if (Dialog != nullptr && IsWindowVisible(Dialog)) {
            Check(false, "the dialog was still open at the end");
            PostMessageW(Dialog, WM_CLOSE, 0, 0);
        }
    });
}

TUser::~TUser() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

std::vector<std::string> TUser::Problems() {
    if (FThread.joinable()) {
        FThread.join();
    }
    const std::lock_guard lock(FLock);
    return FProblems;
}

bool TUser::Check(bool Condition, const std::string& What) {
    if (!Condition) {
        const std::lock_guard lock(FLock);
        FProblems.push_back(What);
    }
    return Condition;
}

bool TUser::WaitFor(const std::function<bool()>& Done, const std::string& What,
                    std::chrono::milliseconds Limit) {
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return Check(Done(), "timed out waiting until " + What);
        }
        Sleep(10);
    }
    return true;
}

bool TUser::WaitForDialog(const std::wstring& Caption) {
    return WaitFor(
        [this, &Caption] {
            HWND active = ActiveWindowOf(UiThread);
            if (active == nullptr || !IsWindowVisible(active) || TextOf(active) != Caption ||
                GetForegroundWindow() != active) {
                return false;
            }
            Dialog = active;
            return true;
        },
        "the dialog is open and in the foreground");
}

}  // namespace wedgecard::test
