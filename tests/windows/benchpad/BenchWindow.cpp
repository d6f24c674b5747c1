#include "tests/windows/benchpad/BenchWindow.h"

#include <ole2.h>

#include <stdexcept>

#include "bench/ComServer.h"

namespace benchpad::test {

using namespace wedgecard::test;

namespace {

constexpr UINT RunBodyMessage = WM_APP + 1;
constexpr wchar_t CallerClass[] = L"BenchpadTestCaller";

LRESULT CALLBACK CallerProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    if (Message == RunBodyMessage) {
        (*reinterpret_cast<const std::function<void()>*>(LParam))();
        return 0;
    }
    return DefWindowProcW(Window, Message, WParam, LParam);
}

}  // namespace

TBenchWindow::TBenchWindow() : FReady(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    FThread = std::thread([this] { Run(); });
    WaitForSingleObject(FReady, 10000);
}

TBenchWindow::~TBenchWindow() {
    // WM_QUIT ends every modal loop on its way out, an error box's and a dialog's too.
    PostThreadMessageW(FThreadId, WM_QUIT, 0, 0);
    FThread.join();
    CloseHandle(FReady);
}

void TBenchWindow::Run() {
    FThreadId = GetCurrentThreadId();
    const HRESULT ole = OleInitialize(nullptr);
    WNDCLASSEXW callerClass{};
    callerClass.cbSize = sizeof callerClass;
    callerClass.lpfnWndProc = &CallerProc;
    callerClass.hInstance = GetModuleHandleW(nullptr);
    callerClass.lpszClassName = CallerClass;
    RegisterClassExW(&callerClass);
    FCaller = CreateWindowExW(0, CallerClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    // The queue exists now: a WM_QUIT posted from here on is not lost.
    SetEvent(FReady);
    {
        TLocalServer server(TServerSwitches{});
        static_cast<void>(server.RegisterClassObjects());
        TfmMain form;
        form.Show();
        SetForegroundWindow(form.Handle());
        FForm = &form;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (form.Handle() == nullptr || !form.IsFormMessage(message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        FForm = nullptr;
    }
    DestroyWindow(FCaller);
    if (SUCCEEDED(ole)) {
        OleUninitialize();
    }
}

TfmMain* TBenchWindow::WaitForForm(std::chrono::milliseconds Limit) {
    const bool shown = WaitUntil(
        [this] {
            TfmMain* form = FForm.load();
            return form != nullptr && IsWindowVisible(form->Handle()) &&
                   GetForegroundWindow() == form->Handle();
        },
        Limit);
    return shown ? FForm.load() : nullptr;
}

void TBenchWindow::OnUiThread(const std::function<void()>& Body) const {
    SendMessageW(FCaller, RunBodyMessage, 0, reinterpret_cast<LPARAM>(&Body));
}

void TBenchWindow::Click(const char* Control, TMouseButton Button) const {
    ClickOn(Form().Control(Control), Button);
}

bool TBenchWindow::ShowTab(int Index) const {
    const HWND tabs = Form().Control("pgcTop");
    RECT tab{};
    SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&tab));
    MapWindowPoints(tabs, nullptr, reinterpret_cast<POINT*>(&tab), 2);
    ClickAt(POINT{(tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2});
    return WaitUntil([tabs, Index] { return SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == Index; });
}

void TBenchWindow::ClickRow(const TListView& List, int Row, TMouseButton Button, int Clicks) const {
    int column = 0;
    while (column < List.ColumnCount() && List.ColumnCaption(column) != L"ИДУстройства") {
        ++column;
    }
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    SendMessageW(List.Handle(), LVM_GETSUBITEMRECT, static_cast<WPARAM>(Row),
                 reinterpret_cast<LPARAM>(&cell));
    MapWindowPoints(List.Handle(), nullptr, reinterpret_cast<POINT*>(&cell), 2);
    ClickAt(POINT{cell.left + 20, (cell.top + cell.bottom) / 2}, Button, Clicks);
}

void TBenchWindow::TypeInto(const char* Edit, std::initializer_list<WORD> Keys) const {
    const HWND edit = Form().Control(Edit);
    ClickOn(edit);
    WaitUntil([&] { return FocusOf(FThreadId) == edit; });
    TypeKeys({VK_HOME});
    TypeKeys({VK_END}, true);
    TypeKeys(Keys);
}

void TBenchWindow::Resize(HWND Window, int Right, int Down) const {
    constexpr int Steps = 5;
    OnUiThread([&] { SendMessageW(Window, WM_ENTERSIZEMOVE, 0, 0); });
    for (int step = 0; step < Steps; ++step) {
        OnUiThread([&] {
            RECT frame{};
            GetWindowRect(Window, &frame);
            SetWindowPos(Window, nullptr, 0, 0, frame.right - frame.left + Right / Steps,
                         frame.bottom - frame.top + Down / Steps, SWP_NOMOVE | SWP_NOZORDER);
            RedrawWindow(Window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        });
    }
    OnUiThread([&] { SendMessageW(Window, WM_EXITSIZEMOVE, 0, 0); });
}

bool TBenchWindow::ChooseMenuItem(HMENU Menu, int Index) const {
    HWND menuWindow = nullptr;
    if (!WaitUntil([&] {
            menuWindow = FindWindowW(L"#32768", nullptr);
            return menuWindow != nullptr && IsWindowVisible(menuWindow);
        })) {
        return false;
    }
    RECT item{};
    if (!GetMenuItemRect(nullptr, Menu, static_cast<UINT>(Index), &item)) {
        return false;
    }
    ClickAt(POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2});
    return WaitUntil([&] { return !IsWindowVisible(menuWindow); });
}

std::wstring TBenchWindow::TextOf(const char* Control) const {
    return wedgecard::test::TextOf(Form().Control(Control));
}

bool TBenchWindow::Checked(const char* Control) const {
    return SendMessageW(Form().Control(Control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

TMessageBox TBenchWindow::TakeMessageBox() const {
    const TMessageBox box = WaitForMessageBox(FThreadId);
    if (box.Handle != nullptr) {
        CloseMessageBox(box);
    }
    return box;
}

std::wstring ClipboardText() {
    std::wstring text;
    // The window's thread may still hold it for a moment.
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; })) {
        return text;
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* characters = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = characters;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

int TextWidth(HWND Control, const std::wstring& Text) {
    HDC dc = GetDC(Control);
    const HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(Control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, Text.c_str(), static_cast<int>(Text.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(Control, dc);
    return extent.cx;
}

COLORREF PixelOf(HWND Window, POINT Client) {
    // Copied as a picture of the window is: GetPixel of a client DC sees no trace of what the
    // window's children left on it.
    RECT frame{};
    GetWindowRect(Window, &frame);
    POINT at = Client;
    ClientToScreen(Window, &at);
    const LONG x = at.x - frame.left;
    const LONG y = at.y - frame.top;
    const std::vector<std::uint32_t> pixel = ShownPixels(Window, RECT{x, y, x + 1, y + 1});
    if (pixel.empty()) {
        return CLR_INVALID;
    }
    return RGB((pixel[0] >> 16) & 0xFF, (pixel[0] >> 8) & 0xFF, pixel[0] & 0xFF);
}

bool ShowsAsItDraws(HWND Control) {
    RECT place{};
    GetWindowRect(Control, &place);
    const std::vector<std::uint32_t> shown =
        ShownPixels(Control, RECT{0, 0, place.right - place.left, place.bottom - place.top});
    return !shown.empty() && shown == PrintedPixels(Control);
}

}  // namespace benchpad::test
