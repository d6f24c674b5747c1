#include "driver/diagnostics/SizeableForm.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/diagnostics/ModuleInfo.h"

namespace wedgecard {

namespace {

constexpr wchar_t FormClassName[] = L"WedgecardForm";
constexpr UINT TextCodePage = 1251;
// Control identifiers stay clear of IDOK and IDCANCEL, which IsDialogMessage sends for Enter
// and Escape.
constexpr int FirstControlId = 100;

HINSTANCE Instance() noexcept {
    return static_cast<HINSTANCE>(ThisModule());
}

// The class lives only while forms exist: the system does not unregister a library's classes
// when the library is unloaded, and a class left behind would point into unloaded code.
std::mutex ClassLock;
int FormCount = 0;

void AcquireFormClass(WNDPROC Procedure) {
    const std::lock_guard lock(ClassLock);
    if (FormCount == 0) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = Instance();
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        windowClass.lpszClassName = FormClassName;
        if (RegisterClassExW(&windowClass) == 0) {
            // Left behind by an earlier load of this module that could not remove it.
            UnregisterClassW(FormClassName, Instance());
            if (RegisterClassExW(&windowClass) == 0) {
                throw std::runtime_error("Не удалось зарегистрировать класс окна " +
                                         SystemErrorText(GetLastError()));
            }
        }
    }
    ++FormCount;
}

void ReleaseFormClass() noexcept {
    const std::lock_guard lock(ClassLock);
    if (--FormCount == 0) {
        UnregisterClassW(FormClassName, Instance());
    }
}

// New place and size along one axis of a control whose parent went from Designed to Actual.
std::pair<int, int> Follow(int Position, int Size, int Designed, int Actual, bool NearEdge,
                           bool FarEdge) noexcept {
    const int change = Actual - Designed;
    if (NearEdge && FarEdge) {
        return {Position, std::max(0, Size + change)};
    }
    if (FarEdge) {
        return {Position + change, Size};
    }
    if (!NearEdge && Designed > 0) {
        return {(MulDiv(2 * Position + Size, Actual, Designed) - Size) / 2, Size};
    }
    return {Position, Size};
}

bool SameClass(const std::wstring& ClassName, const wchar_t* Other) noexcept {
    return lstrcmpiW(ClassName.c_str(), Other) == 0;
}

// The extent of Text drawn in Font on Window, and the font's average character width.
std::pair<SIZE, int> MeasureText(HWND Window, HFONT Font, const std::wstring& Text) {
    HDC dc = GetDC(Window);
    const HGDIOBJ previous = SelectObject(dc, Font);
    RECT extent{};
    DrawTextW(dc, Text.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE | DT_LEFT);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(Window, dc);
    return {SIZE{extent.right - extent.left, extent.bottom - extent.top},
            static_cast<int>(metrics.tmAveCharWidth)};
}

std::wstring WindowText(HWND Window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(Window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

std::wstring WideText(std::string_view Text) {
    if (Text.empty()) {
        return {};
    }
    const int length = static_cast<int>(Text.size());
    const int size = MultiByteToWideChar(TextCodePage, 0, Text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(TextCodePage, 0, Text.data(), length, wide.data(), size);
    return wide;
}

std::string NarrowText(std::wstring_view Text) {
    if (Text.empty()) {
        return {};
    }
    const int length = static_cast<int>(Text.size());
    const int size =
        WideCharToMultiByte(TextCodePage, 0, Text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(TextCodePage, 0, Text.data(), length, narrow.data(), size, nullptr,
                        nullptr);
    return narrow;
}

TSizeableForm::TSizeableForm(TFormDescription Description, HWND Owner)
    : FDescription(std::move(Description)) {
    AcquireFormClass(&FormProc);
    try {
        FFont.reset(CreateFontW(FDescription.FontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                FDescription.FontName.c_str()));

        int width = FDescription.Width;
        int height = FDescription.Height;
        DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        DWORD exStyle = WS_EX_CONTROLPARENT;
        if (FDescription.BorderStyle == TBorderStyle::Sizeable) {
            style |= WS_THICKFRAME;
            // The stored size was taken where the caption was 19 pixels high and the sizing
            // frame one pixel wider than a 3-D edge. Larger captions and frames take their
            // extra room from outside the client area, not from the controls.
            height += (GetSystemMetrics(SM_CYCAPTION) - 19) +
                      2 * (GetSystemMetrics(SM_CYFRAME) - GetSystemMetrics(SM_CYEDGE) - 1);
            width += 2 * (GetSystemMetrics(SM_CXFRAME) - GetSystemMetrics(SM_CXEDGE) - 1);
        } else {
            exStyle |= WS_EX_DLGMODALFRAME;
        }
        if (FDescription.MinimizeBox) {
            style |= WS_MINIMIZEBOX;
        }
        if (FDescription.MaximizeBox) {
            style |= WS_MAXIMIZEBOX;
        }
        ConstrainSize(width, height);

        int left = CW_USEDEFAULT;
        int top = CW_USEDEFAULT;
        if (FDescription.Position == TFormPosition::ScreenCenter) {
            left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
            top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
        }
        if (CreateWindowExW(exStyle, FormClassName, WideText(FDescription.Caption).c_str(), style,
                            left, top, width, height, Owner, nullptr, Instance(),
                            this) == nullptr) {
            throw std::runtime_error("Не удалось создать окно " + SystemErrorText(GetLastError()));
        }
        CreateControls();
        AlignControls();
    } catch (...) {
        if (FHandle != nullptr) {
            DestroyWindow(FHandle);
        }
        ReleaseFormClass();
        throw;
    }
}

TSizeableForm::~TSizeableForm() {
    if (FHandle != nullptr) {
        DestroyWindow(FHandle);
    }
    ReleaseFormClass();
}

void TSizeableForm::CreateControls() {
    const std::vector<TControlDescription>& stored = FDescription.Controls;
    const int count = static_cast<int>(stored.size());
    std::vector<int> parentOf(stored.size(), -1);
    for (int i = 0; i < count; ++i) {
        const std::string& parent = stored[static_cast<std::size_t>(i)].Parent;
        if (parent.empty()) {
            continue;
        }
        const auto found = std::find_if(stored.begin(), stored.begin() + i,
                                        [&parent](const auto& c) { return c.Name == parent; });
        if (found == stored.begin() + i) {
            throw std::invalid_argument("Элемент " + stored[static_cast<std::size_t>(i)].Name +
                                        " лежит в неизвестном " + parent);
        }
        parentOf[static_cast<std::size_t>(i)] = static_cast<int>(found - stored.begin());
    }

    // Windows are created parents first and siblings in tab order, since tab navigation
    // follows the order of creation. Controls without a tab stop keep their stored places.
    std::vector<int> order;
    std::vector<int> placeOf(stored.size(), -1);
    const auto place = [&](const auto& self, int parent) -> void {
        std::vector<int> siblings;
        for (int i = 0; i < count; ++i) {
            if (parentOf[static_cast<std::size_t>(i)] == parent) {
                siblings.push_back(i);
            }
        }
        std::vector<int> tabStops;
        std::copy_if(
            siblings.begin(), siblings.end(), std::back_inserter(tabStops),
            [&stored](int i) { return stored[static_cast<std::size_t>(i)].TabOrder >= 0; });
        std::stable_sort(tabStops.begin(), tabStops.end(), [&stored](int a, int b) {
            return stored[static_cast<std::size_t>(a)].TabOrder <
                   stored[static_cast<std::size_t>(b)].TabOrder;
        });
        auto nextTabStop = tabStops.begin();
        for (int& sibling : siblings) {
            if (stored[static_cast<std::size_t>(sibling)].TabOrder >= 0) {
                sibling = *nextTabStop++;
            }
        }
        for (const int sibling : siblings) {
            placeOf[static_cast<std::size_t>(sibling)] = static_cast<int>(order.size());
            order.push_back(sibling);
            self(self, sibling);
        }
    };
    place(place, -1);

    FControls.reserve(order.size());
    for (const int i : order) {
        const int parent = parentOf[static_cast<std::size_t>(i)];
        TControl control;
        control.Description = stored[static_cast<std::size_t>(i)];
        control.Parent = parent < 0 ? -1 : placeOf[static_cast<std::size_t>(parent)];
        if (control.Parent >= 0) {
            TControl& container = FControls[static_cast<std::size_t>(control.Parent)];
            container.Container = true;
            if (IsPage(control)) {
                control.Page = static_cast<int>(std::count_if(
                    FControls.begin(), FControls.end(),
                    [&control](const auto& c) { return c.Parent == control.Parent; }));
            }
        }
        FControls.push_back(std::move(control));
    }
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        CreateControl(FControls[i], FirstControlId + static_cast<int>(i));
    }
    // The stored places were laid out for the form's font; where the system draws a wider one,
    // a caption keeps its place and gets the room its text needs: its control grows, and the
    // controls beside it on its row move right as far as that takes.
    FitCaptions();

    for (TControl& page : FControls) {
        if (IsPage(page)) {
            // The place its contents were laid out in: the display area of the tab control
            // at its stored size.
            const TControl& tabs = FControls[static_cast<std::size_t>(page.Parent)];
            RECT area{0, 0, tabs.Description.Width, tabs.Description.Height};
            SendMessageW(tabs.Handle, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
            page.Description.Left = area.left;
            page.Description.Top = area.top;
            page.Description.Width = area.right - area.left;
            page.Description.Height = area.bottom - area.top;
        }
    }
    for (const TControl& control : FControls) {
        if (control.FitsItsText) {
            SetWindowPos(control.Handle, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    // Every control is a child of the form, so a group box or a tab control lies beside the
    // controls in it: below them, or it would paint over them. Outer containers go lowest.
    for (auto control = FControls.rbegin(); control != FControls.rend(); ++control) {
        if (control->Container) {
            SetWindowPos(control->Handle, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    ShowSelectedPages();
}

bool TSizeableForm::IsPage(const TControl& Control) const noexcept {
    return Control.Parent >= 0 &&
           SameClass(FControls[static_cast<std::size_t>(Control.Parent)].Description.ClassName,
                     WC_TABCONTROLW);
}

bool TSizeableForm::OnSelectedPages(const TControl& Control) const {
    for (int parent = Control.Parent; parent >= 0;) {
        const TControl& container = FControls[static_cast<std::size_t>(parent)];
        if (container.Page >= 0) {
            const TControl& tabs = FControls[static_cast<std::size_t>(container.Parent)];
            if (SendMessageW(tabs.Handle, TCM_GETCURSEL, 0, 0) != container.Page) {
                return false;
            }
        }
        parent = container.Parent;
    }
    return true;
}

void TSizeableForm::ShowSelectedPages() {
    for (const TControl& control : FControls) {
        if (control.Page < 0 && control.Parent >= 0) {
            ShowWindow(control.Handle, OnSelectedPages(control) ? SW_SHOWNA : SW_HIDE);
        }
    }
    // A hidden control keeps the focus and takes the keys typed into nothing visible.
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(FHandle, focus) && !IsWindowVisible(focus)) {
        const auto tabs = std::find_if(FControls.begin(), FControls.end(), [](const TControl& c) {
            return SameClass(c.Description.ClassName, WC_TABCONTROLW);
        });
        SetFocus(tabs != FControls.end() ? tabs->Handle : FHandle);
    }
}

void TSizeableForm::CreateControl(TControl& Control, int Id) {
    TControlDescription& description = Control.Description;
    if (Control.Page >= 0) {
        // A page is a tab and a place; its window, never shown, only keeps where it lies.
        const HWND tabs = FControls[static_cast<std::size_t>(Control.Parent)].Handle;
        std::wstring caption = WideText(description.Caption);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        if (SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(Control.Page),
                         reinterpret_cast<LPARAM>(&item)) != Control.Page) {
            throw std::runtime_error("Не удалось создать " + description.Name);
        }
        Control.Handle =
            CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD, 0, 0, 0, 0, FHandle,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), Instance(), nullptr);
        if (Control.Handle == nullptr) {
            throw std::runtime_error("Не удалось создать " + description.Name + " " +
                                     SystemErrorText(GetLastError()));
        }
        return;
    }
    DWORD style = WS_CHILD | WS_VISIBLE | description.Style |
                  (description.Default ? DWORD{BS_DEFPUSHBUTTON} : DWORD{0}) |
                  (description.TabOrder >= 0 ? DWORD{WS_TABSTOP} : DWORD{0}) |
                  (Control.Container ? DWORD{WS_CLIPSIBLINGS} : DWORD{0});
    DWORD exStyle = description.ExStyle;
    if (SameClass(description.ClassName, L"BUTTON") && (style & BS_TYPEMASK) == BS_GROUPBOX) {
        // A group box paints its frame and caption only: the form, which clips its children,
        // has to paint what lies inside it.
        exStyle |= WS_EX_TRANSPARENT;
    }
    const bool fitsItsText = SameClass(description.ClassName, L"STATIC") &&
                             description.Width == 0 && description.Height == 0;
    if (fitsItsText && (style & SS_TYPEMASK) == SS_LEFT) {
        // One line, as measured: a plain left-aligned static wraps, and a measure that falls a
        // pixel short would send the last word to a line below, out of sight.
        style |= SS_LEFTNOWORDWRAP;
    }
    if (fitsItsText) {
        // It is made a little wider than its text (below) and lies under its neighbours,
        // which it must not paint over.
        style |= WS_CLIPSIBLINGS;
        Control.FitsItsText = true;
    }
    const std::wstring caption = WideText(description.Caption);
    Control.Handle = CreateWindowExW(
        exStyle, description.ClassName.c_str(), caption.c_str(), style, description.Left,
        description.Top, description.Width, description.Height, FHandle,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), Instance(), nullptr);
    if (Control.Handle == nullptr) {
        throw std::runtime_error("Не удалось создать " + description.Name + " " +
                                 SystemErrorText(GetLastError()));
    }
    SendMessageW(Control.Handle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.get()), FALSE);

    if (fitsItsText) {
        const auto [extent, averageWidth] = MeasureText(Control.Handle, FFont.get(), caption);
        // Where the form's font is stood in for by another, the drawn glyphs may reach a few
        // pixels beyond the measured advance; the last character would be cut off.
        description.Width = extent.cx + averageWidth;
        description.Height = extent.cy;
    }
}

int TSizeableForm::CaptionWidth(const TControl& Control) const {
    const TControlDescription& description = Control.Description;
    if (Control.FitsItsText) {
        return MeasureText(Control.Handle, FFont.get(), WideText(description.Caption)).first.cx;
    }
    if (!SameClass(description.ClassName, L"BUTTON") || Control.Page >= 0) {
        return 0;
    }
    switch (description.Style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: {
            // The box, then the text half a character further.
            const auto [extent, averageWidth] =
                MeasureText(Control.Handle, FFont.get(), WideText(description.Caption));
            return GetSystemMetrics(SM_CXMENUCHECK) + averageWidth / 2 + extent.cx;
        }
        default:
            return 0;
    }
}

void TSizeableForm::FitCaptions() {
    std::vector<int> storedLeft;
    for (const TControl& control : FControls) {
        storedLeft.push_back(control.Description.Left);
    }
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        const int caption = CaptionWidth(FControls[i]);
        if (caption == 0) {
            continue;
        }
        TControlDescription& description = FControls[i].Description;
        if (!FControls[i].FitsItsText) {
            description.Width = std::max(description.Width, caption);
        }
        MakeRoom(i, description.Left + caption, storedLeft);
    }
}

void TSizeableForm::MakeRoom(std::size_t Control, int Right, const std::vector<int>& StoredLeft) {
    const TControl& mover = FControls[Control];
    const TControlDescription& at = mover.Description;
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        const TControl& other = FControls[i];
        const TControlDescription& place = other.Description;
        const bool besideOnItsRow = other.Parent == mover.Parent && place.Left > at.Left &&
                                    place.Top < at.Top + at.Height &&
                                    at.Top < place.Top + place.Height;
        if (i != Control && other.Page < 0 && besideOnItsRow && place.Left < Right) {
            MoveRight(i, Right, StoredLeft);
        }
    }
}

void TSizeableForm::MoveRight(std::size_t Control, int Left, const std::vector<int>& StoredLeft) {
    TControlDescription& moved = FControls[Control].Description;
    if (moved.Left >= Left) {
        return;
    }
    moved.Left = Left;
    MakeRoom(Control, moved.Left + moved.Width, StoredLeft);
    // Controls of its kind stored in a column with it stay in that column.
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        const TControlDescription& other = FControls[i].Description;
        if (FControls[i].Parent == FControls[Control].Parent &&
            StoredLeft[i] == StoredLeft[Control] && other.Width == moved.Width &&
            SameClass(other.ClassName, moved.ClassName.c_str())) {
            MoveRight(i, Left, StoredLeft);
        }
    }
}

void TSizeableForm::AlignControls() {
    RECT client{};
    GetClientRect(FHandle, &client);
    for (TControl& control : FControls) {
        const TControlDescription& stored = control.Description;
        int designedWidth = FDescription.ClientWidth;
        int designedHeight = FDescription.ClientHeight;
        RECT parent = client;
        if (control.Parent >= 0) {
            const TControl& container = FControls[static_cast<std::size_t>(control.Parent)];
            designedWidth = container.Description.Width;
            designedHeight = container.Description.Height;
            parent = container.Bounds;
        }
        const auto [left, width] =
            Follow(stored.Left, stored.Width, designedWidth, parent.right - parent.left,
                   (stored.Anchors & akLeft) != 0, (stored.Anchors & akRight) != 0);
        const auto [top, height] =
            Follow(stored.Top, stored.Height, designedHeight, parent.bottom - parent.top,
                   (stored.Anchors & akTop) != 0, (stored.Anchors & akBottom) != 0);
        control.Bounds = RECT{parent.left + left, parent.top + top, parent.left + left + width,
                              parent.top + top + height};
        if (control.Page >= 0) {
            control.Bounds = parent;
            SendMessageW(FControls[static_cast<std::size_t>(control.Parent)].Handle, TCM_ADJUSTRECT,
                         FALSE, reinterpret_cast<LPARAM>(&control.Bounds));
        }
        // No copy of the old picture: it may stem from a frame of the resize that the form
        // has not painted yet.
        SetWindowPos(control.Handle, nullptr, control.Bounds.left, control.Bounds.top,
                     control.Bounds.right - control.Bounds.left,
                     control.Bounds.bottom - control.Bounds.top,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    }
}

void TSizeableForm::ConstrainSize(int& Width, int& Height) const noexcept {
    const TSizeConstraints& limits = FDescription.Constraints;
    if (limits.MaxWidth > 0) {
        Width = std::min(Width, limits.MaxWidth);
    }
    if (limits.MaxHeight > 0) {
        Height = std::min(Height, limits.MaxHeight);
    }
    Width = std::max(Width, limits.MinWidth);
    Height = std::max(Height, limits.MinHeight);
}

TSizeableForm::TControl& TSizeableForm::Find(std::string_view Name) {
    const auto found = std::find_if(FControls.begin(), FControls.end(), [Name](const TControl& c) {
        return c.Description.Name == Name;
    });
    if (found == FControls.end()) {
        throw std::invalid_argument("В окне " + FDescription.Name + " нет элемента " +
                                    std::string(Name));
    }
    return *found;
}

const TSizeableForm::TControl& TSizeableForm::Find(std::string_view Name) const {
    return const_cast<TSizeableForm*>(this)->Find(Name);
}

HWND TSizeableForm::Control(std::string_view Name) const {
    return Find(Name).Handle;
}

std::string TSizeableForm::Caption() const {
    return NarrowText(WindowText(FHandle));
}

void TSizeableForm::SetCaption(std::string_view Text) {
    SetWindowTextW(FHandle, WideText(Text).c_str());
}

std::string TSizeableForm::Text(std::string_view Name) const {
    return NarrowText(WindowText(Find(Name).Handle));
}

void TSizeableForm::SetText(std::string_view Name, std::string_view Text) {
    SetWindowTextW(Find(Name).Handle, WideText(Text).c_str());
}

bool TSizeableForm::Checked(std::string_view Name) const {
    return SendMessageW(Find(Name).Handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TSizeableForm::SetChecked(std::string_view Name, bool Value) {
    SendMessageW(Find(Name).Handle, BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::string TSizeableForm::ActivePage(std::string_view TabControl) const {
    const auto tabs = static_cast<int>(&Find(TabControl) - FControls.data());
    const LRESULT selected =
        SendMessageW(FControls[static_cast<std::size_t>(tabs)].Handle, TCM_GETCURSEL, 0, 0);
    for (const TControl& control : FControls) {
        if (control.Parent == tabs && control.Page == selected) {
            return control.Description.Name;
        }
    }
    return {};
}

void TSizeableForm::SetActivePage(std::string_view Page) {
    const TControl& page = Find(Page);
    if (page.Page < 0) {
        throw std::invalid_argument(std::string(Page) + " не страница");
    }
    SendMessageW(FControls[static_cast<std::size_t>(page.Parent)].Handle, TCM_SETCURSEL,
                 static_cast<WPARAM>(page.Page), 0);
    ShowSelectedPages();
}

int TSizeableForm::Tag(std::string_view Name) const {
    return Find(Name).Tag;
}

void TSizeableForm::SetTag(std::string_view Name, int Value) {
    Find(Name).Tag = Value;
}

void TSizeableForm::SetOnClick(std::string_view Name, std::function<void()> Handler) {
    Find(Name).OnClick = std::move(Handler);
}

void TSizeableForm::Show() {
    ShowWindow(FHandle, SW_SHOW);
}

bool TSizeableForm::IsFormMessage(MSG& Message) {
    if (FHandle == nullptr) {
        return false;
    }
    if (Message.message == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0 &&
        (Message.hwnd == FHandle || IsChild(FHandle, Message.hwnd))) {
        int step = 0;
        if (Message.wParam == VK_TAB) {
            step = GetKeyState(VK_SHIFT) < 0 ? -1 : 1;
        } else if (Message.wParam == VK_NEXT) {
            step = 1;
        } else if (Message.wParam == VK_PRIOR) {
            step = -1;
        }
        if (step != 0 && TurnPage(step)) {
            return true;
        }
    }
    return IsDialogMessageW(FHandle, &Message) != FALSE;
}

bool TSizeableForm::LiesOn(std::size_t Control, int Container) const {
    for (int parent = FControls[Control].Parent; parent >= 0;
         parent = FControls[static_cast<std::size_t>(parent)].Parent) {
        if (parent == Container) {
            return true;
        }
    }
    return false;
}

int TSizeableForm::FindTabControl() const {
    // The one that has the focus or holds it on a page; else the form's first.
    const HWND focus = GetFocus();
    int first = -1;
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        if (!SameClass(FControls[i].Description.ClassName, WC_TABCONTROLW)) {
            continue;
        }
        const int tabs = static_cast<int>(i);
        if (first < 0) {
            first = tabs;
        }
        for (std::size_t j = 0; j < FControls.size(); ++j) {
            if (FControls[j].Handle == focus && (j == i || LiesOn(j, tabs))) {
                return tabs;
            }
        }
    }
    return first;
}

bool TSizeableForm::TurnPage(int Step) {
    const int tabs = FindTabControl();
    if (tabs < 0) {
        return false;
    }
    const HWND tabsHandle = FControls[static_cast<std::size_t>(tabs)].Handle;
    const auto count = static_cast<int>(SendMessageW(tabsHandle, TCM_GETITEMCOUNT, 0, 0));
    if (count <= 0) {
        return false;
    }
    const HWND focus = GetFocus();
    bool focusOnPage = false;
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        focusOnPage = focusOnPage || (FControls[i].Handle == focus && LiesOn(i, tabs));
    }
    const auto current = static_cast<int>(SendMessageW(tabsHandle, TCM_GETCURSEL, 0, 0));
    const int next = current < 0 ? 0 : ((current + Step) % count + count) % count;
    SendMessageW(tabsHandle, TCM_SETCURSEL, static_cast<WPARAM>(next), 0);
    ShowSelectedPages();
    if (focusOnPage) {
        // Into the page shown, to its first control in tab order, rather than onto the tabs.
        for (const TControl& control : FControls) {
            const auto style = static_cast<DWORD>(GetWindowLongW(control.Handle, GWL_STYLE));
            if (control.Page < 0 && (style & WS_TABSTOP) != 0 &&
                LiesOn(static_cast<std::size_t>(&control - FControls.data()), tabs) &&
                IsWindowVisible(control.Handle) && IsWindowEnabled(control.Handle)) {
                SetFocus(control.Handle);
                break;
            }
        }
    }
    return true;
}

int TSizeableForm::ShowModal() {
    if (FModal || IsWindowVisible(FHandle)) {
        throw std::logic_error("Видимое окно " + FDescription.Name + " нельзя показать модально");
    }
    HWND owner = GetWindow(FHandle, GW_OWNER);
    // EnableWindow answers whether the window was disabled before.
    const bool ownerDisabled = owner != nullptr && EnableWindow(owner, FALSE) == FALSE;
    FModal = true;
    FModalResult = mrNone;
    ShowWindow(FHandle, SW_SHOW);

    MSG message{};
    while (FModalResult == mrNone) {
        const BOOL received = GetMessageW(&message, nullptr, 0, 0);
        if (received == 0) {
            // The program is ending: the loop that waits outside has to see WM_QUIT too.
            PostQuitMessage(static_cast<int>(message.wParam));
            FModalResult = mrCancel;
            break;
        }
        if (received == -1) {
            FModalResult = mrCancel;
            break;
        }
        if (FHandle == nullptr || !IsFormMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (FHandle == nullptr) {
            // Destroyed under the loop, with its owner perhaps.
            FModalResult = mrCancel;
        }
    }

    FModal = false;
    // The owner is enabled before the form hides, so that it is the window activated next.
    if (ownerDisabled) {
        EnableWindow(owner, TRUE);
    }
    if (FHandle != nullptr) {
        ShowWindow(FHandle, SW_HIDE);
    }
    return FModalResult;
}

void TSizeableForm::Close() {
    if (FModal) {
        FModalResult = mrCancel;
    } else {
        ShowWindow(FHandle, SW_HIDE);
    }
}

bool TSizeableForm::IsPushButton(const TControl& Control) const {
    if (!SameClass(Control.Description.ClassName, L"BUTTON")) {
        return false;
    }
    const auto type = static_cast<DWORD>(GetWindowLongW(Control.Handle, GWL_STYLE)) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

void TSizeableForm::EnableButtons(bool Enable) {
    if (!Enable) {
        // Only a button focused now gets the focus back: one remembered from an earlier round
        // would take it from wherever the user has put it since.
        FFocusedButton = nullptr;
    }
    EnableButtonsIn(-1, Enable);
}

void TSizeableForm::EnableButtonsIn(int Parent, bool Enable) {
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        if (FControls[i].Parent != Parent) {
            continue;
        }
        EnableButtonsIn(static_cast<int>(i), Enable);
        TControl& control = FControls[i];
        if (!IsPushButton(control)) {
            continue;
        }
        if (!Enable) {
            if (GetFocus() == control.Handle) {
                FFocusedButton = control.Handle;
            }
            if (IsWindowEnabled(control.Handle)) {
                control.Tag = 1;
                EnableWindow(control.Handle, FALSE);
            }
        } else {
            if (control.Tag == 1) {
                control.Tag = 0;
                EnableWindow(control.Handle, TRUE);
            }
            if (control.Handle == FFocusedButton && IsWindowVisible(control.Handle) &&
                IsWindowEnabled(control.Handle) && IsWindowEnabled(FHandle)) {
                SetFocus(control.Handle);
            }
        }
    }
}

void TSizeableForm::RestoreFocus() {
    HWND focus = FSavedFocus;
    if (focus == nullptr || !IsChild(FHandle, focus) || !IsWindowVisible(focus) ||
        !IsWindowEnabled(focus)) {
        focus = GetNextDlgTabItem(FHandle, nullptr, FALSE);
    }
    SetFocus(focus != nullptr ? focus : FHandle);
}

int TSizeableForm::DefaultButtonId() const {
    const HWND focus = GetFocus();
    int focused = 0;
    int preset = 0;
    bool hasDefault = false;
    for (std::size_t i = 0; i < FControls.size(); ++i) {
        const TControl& control = FControls[i];
        const int id = FirstControlId + static_cast<int>(i);
        if (control.Description.Default) {
            hasDefault = true;
            if (IsWindowVisible(control.Handle) && IsWindowEnabled(control.Handle)) {
                preset = id;
            }
        }
        if (control.Handle == focus && IsPushButton(control)) {
            focused = id;
        }
    }
    if (!hasDefault) {
        return 0;
    }
    return focused != 0 ? focused : preset;
}

void TSizeableForm::Click(std::size_t Control) {
    const TControl& control = FControls[Control];
    if (control.OnClick) {
        control.OnClick();
    }
    if (control.Description.ModalResult != mrNone) {
        FModalResult = control.Description.ModalResult;
    }
}

void TSizeableForm::Command(WPARAM WParam, LPARAM LParam) {
    if (LParam == 0) {
        // A menu, an accelerator, or Escape through IsDialogMessage, which names no control:
        // none has the identifier IDCANCEL. (Enter names the button that DM_GETDEFID gave.)
        if (WParam == IDCANCEL) {
            for (std::size_t i = 0; i < FControls.size(); ++i) {
                const TControl& control = FControls[i];
                if (control.Description.Cancel && IsWindowVisible(control.Handle) &&
                    IsWindowEnabled(control.Handle)) {
                    Click(i);
                    break;
                }
            }
        }
        return;
    }
    const int index = static_cast<int>(LOWORD(WParam)) - FirstControlId;
    if (index < 0 || index >= static_cast<int>(FControls.size()) || HIWORD(WParam) != BN_CLICKED) {
        return;
    }
    Click(static_cast<std::size_t>(index));
}

LRESULT TSizeableForm::WindowProc(UINT Message, WPARAM WParam, LPARAM LParam) {
    switch (Message) {
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(LParam);
            const TSizeConstraints& limits = FDescription.Constraints;
            if (limits.MinWidth > 0) {
                info->ptMinTrackSize.x = limits.MinWidth;
            }
            if (limits.MinHeight > 0) {
                info->ptMinTrackSize.y = limits.MinHeight;
            }
            if (limits.MaxWidth > 0) {
                info->ptMaxTrackSize.x = limits.MaxWidth;
                info->ptMaxSize.x = std::min(info->ptMaxSize.x, LONG{limits.MaxWidth});
            }
            if (limits.MaxHeight > 0) {
                info->ptMaxTrackSize.y = limits.MaxHeight;
                info->ptMaxSize.y = std::min(info->ptMaxSize.y, LONG{limits.MaxHeight});
            }
            return 0;
        }
        case WM_WINDOWPOSCHANGING: {
            // Sizes set by the program obey the constraints too, not only a drag of the frame.
            auto* position = reinterpret_cast<WINDOWPOS*>(LParam);
            if ((position->flags & SWP_NOSIZE) == 0 && !IsIconic(FHandle)) {
                ConstrainSize(position->cx, position->cy);
            }
            break;
        }
        case WM_SIZE:
            if (WParam != SIZE_MINIMIZED) {
                AlignControls();
                // The form paints what lies inside its group boxes, and a control that grew
                // repaints only its new part: without this, edges and scroll bars of the size
                // before would stay where they were drawn.
                RedrawWindow(FHandle, nullptr, nullptr,
                             RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
            }
            return 0;
        case WM_COMMAND:
            Command(WParam, LParam);
            return 0;
        case DM_GETDEFID:
            // Asked by IsDialogMessage for Enter.
            if (const int id = DefaultButtonId(); id != 0) {
                return MAKELRESULT(id, DC_HASDEFID);
            }
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT: {
            const auto control = reinterpret_cast<HWND>(LParam);
            const auto found =
                std::find_if(FControls.begin(), FControls.end(),
                             [control](const TControl& c) { return c.Handle == control; });
            if (found == FControls.end()) {
                break;
            }
            int color = found->Description.Color;
            // A read-only or disabled edit keeps the window colour of an editable one.
            if (color < 0 && Message == WM_CTLCOLORSTATIC &&
                SameClass(found->Description.ClassName, L"EDIT")) {
                color = COLOR_WINDOW;
            }
            if (color >= 0) {
                SetBkColor(reinterpret_cast<HDC>(WParam), GetSysColor(color));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(color));
            }
            break;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(LParam);
            if (header->code == static_cast<UINT>(TCN_SELCHANGE)) {
                ShowSelectedPages();
            }
            break;
        }
        case WM_ACTIVATE:
            // A plain window would take the focus itself on activation; a form gives it back
            // to the control that had it.
            if (LOWORD(WParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus != nullptr && IsChild(FHandle, focus)) {
                    FSavedFocus = focus;
                }
                return 0;
            }
            if (HIWORD(WParam) == 0) {
                RestoreFocus();
                return 0;
            }
            break;
        case WM_CLOSE:
            Close();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(FHandle, Message, WParam, LParam);
}

void TSizeableForm::HandleException(const std::exception& Error) {
    MessageBoxW(FHandle, WideText(Error.what()).c_str(), WideText(FDescription.Caption).c_str(),
                MB_OK | MB_ICONERROR);
}

LRESULT CALLBACK TSizeableForm::FormProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    auto* form = reinterpret_cast<TSizeableForm*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (Message == WM_NCCREATE) {
        form =
            static_cast<TSizeableForm*>(reinterpret_cast<CREATESTRUCTW*>(LParam)->lpCreateParams);
        form->FHandle = Window;
        SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    if (form == nullptr) {
        return DefWindowProcW(Window, Message, WParam, LParam);
    }
    LRESULT result = 0;
    // Nothing may unwind through the system's dispatch.
    try {
        result = form->WindowProc(Message, WParam, LParam);
    } catch (const std::exception& error) {
        try {
            form->HandleException(error);
        } catch (...) {
        }
    } catch (...) {
        try {
            form->HandleException(std::runtime_error("Неизвестная ошибка"));
        } catch (...) {
        }
    }
    if (Message == WM_NCDESTROY) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        form->FHandle = nullptr;
        for (TControl& control : form->FControls) {
            control.Handle = nullptr;
        }
    }
    return result;
}

}  // namespace wedgecard
