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

}  // namespace benchpad::test
