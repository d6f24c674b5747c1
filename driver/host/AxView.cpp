#include "driver/host/AxView.h"

#include <cmath>

#include "driver/diagnostics/ModuleInfo.h"

namespace wedgecard {

namespace {

constexpr const char* ViewClass = "TAxView";
constexpr int ViewSize = 40;
constexpr COLORREF TransparentColour = RGB(255, 0, 255);

HINSTANCE Module() {
    return static_cast<HINSTANCE>(ThisModule());
}

// The palette of a 256-colour DIB section, so the view can realise it on palette displays.
HPALETTE PaletteOf(HBITMAP Bitmap) {
    HDC context = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(context, Bitmap);
    RGBQUAD colours[256];
    const UINT count = GetDIBColorTable(context, 0, 256, colours);
    SelectObject(context, previous);
    DeleteDC(context);
    if (count == 0) {
        return nullptr;
    }
    struct {
        LOGPALETTE Header;
        PALETTEENTRY More[255];
    } palette{};
    palette.Header.palVersion = 0x300;
    palette.Header.palNumEntries = static_cast<WORD>(count);
    for (UINT i = 0; i < count; ++i) {
        PALETTEENTRY& entry = palette.Header.palPalEntry[i];
        entry = PALETTEENTRY{colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue, 0};
    }
    return CreatePalette(&palette.Header);
}

}  // namespace

std::unique_ptr<TAxView> TAxView::Create() {
    WNDCLASSA existing{};
    if (!GetClassInfoA(Module(), ViewClass, &existing)) {
        // No CS_HREDRAW or CS_VREDRAW: a resize repaints only what it uncovers.
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &WindowProc;
        windowClass.hInstance = Module();
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.lpszClassName = ViewClass;
        if (RegisterClassA(&windowClass) == 0) {
            return nullptr;
        }
    }
    std::unique_ptr<TAxView> view(new TAxView());
    view->FBitmap = static_cast<HBITMAP>(
        LoadImageA(Module(), "WEDGECARD", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (view->FBitmap != nullptr) {
        BITMAP info{};
        GetObject(view->FBitmap, sizeof info, &info);
        view->FBitmapSize = SIZE{info.bmWidth, info.bmHeight};
        view->FPalette = PaletteOf(view->FBitmap);
    }
    view->FParking =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, Module(), nullptr);
    if (view->FParking == nullptr) {
        return nullptr;
    }
    view->FWindow = CreateWindowExA(0, ViewClass, "", WS_CHILD | WS_VISIBLE, 0, 0, ViewSize,
                                    ViewSize, view->FParking, nullptr, Module(), view.get());
    if (view->FWindow == nullptr) {
        return nullptr;
    }
    return view;
}

TAxView::~TAxView() {
    if (FWindow != nullptr) {
        SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
        DestroyWindow(FWindow);
    }
    if (FParking != nullptr) {
        DestroyWindow(FParking);
    }
    if (FBitmap != nullptr) {
        DeleteObject(FBitmap);
    }
    if (FPalette != nullptr) {
        DeleteObject(FPalette);
    }
}

void TAxView::UnregisterWindowClass() noexcept {
    UnregisterClassA(ViewClass, Module());
}

POINT TAxView::BitmapOrigin(const RECT& Client, int Width, int Height) noexcept {
    // Inside the frame; halves round to even, as the view has always placed it.
    const double left = Client.left + 1;
    const double top = Client.top + 1;
    const double right = Client.right - 1;
    const double bottom = Client.bottom - 1;
    return POINT{static_cast<LONG>(std::nearbyint(left + (right - left) / 2 - Width / 2.0)),
                 static_cast<LONG>(std::nearbyint(top + (bottom - top) / 2 - Height / 2.0))};
}

void TAxView::Paint(HDC Context) const {
    RECT client;
    GetClientRect(FWindow, &client);
    RECT inner = client;
    // One-pixel 3-D frame: light top and left, shadow bottom and right.
    HPEN highlight = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
    HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    HGDIOBJ previous = SelectObject(Context, highlight);
    MoveToEx(Context, client.left, client.bottom - 1, nullptr);
    LineTo(Context, client.left, client.top);
    LineTo(Context, client.right - 1, client.top);
    SelectObject(Context, shadow);
    LineTo(Context, client.right - 1, client.bottom - 1);
    LineTo(Context, client.left - 1, client.bottom - 1);
    SelectObject(Context, previous);
    DeleteObject(highlight);
    DeleteObject(shadow);
    InflateRect(&inner, -1, -1);
    FillRect(Context, &inner, GetSysColorBrush(COLOR_BTNFACE));

    if (FBitmap == nullptr) {
        return;
    }
    const POINT origin = BitmapOrigin(client, FBitmapSize.cx, FBitmapSize.cy);
    HPALETTE oldPalette = nullptr;
    if (FPalette != nullptr) {
        oldPalette = SelectPalette(Context, FPalette, TRUE);
        RealizePalette(Context);
    }
    HDC source = CreateCompatibleDC(Context);
    HGDIOBJ oldBitmap = SelectObject(source, FBitmap);
    TransparentBlt(Context, origin.x, origin.y, FBitmapSize.cx, FBitmapSize.cy, source, 0, 0,
                   FBitmapSize.cx, FBitmapSize.cy, TransparentColour);
    SelectObject(source, oldBitmap);
    DeleteDC(source);
    if (oldPalette != nullptr) {
        SelectPalette(Context, oldPalette, TRUE);
    }
}

LRESULT CALLBACK TAxView::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    if (Message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(LParam);
        SetWindowLongPtrA(Window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* view = reinterpret_cast<TAxView*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
    switch (Message) {
        case WM_PAINT:
            if (view != nullptr) {
                view->FWindow = Window;
                PAINTSTRUCT paint;
                HDC context = BeginPaint(Window, &paint);
                view->Paint(context);
                EndPaint(Window, &paint);
                return 0;
            }
            break;
        case WM_PRINTCLIENT:
            if (view != nullptr) {
                view->FWindow = Window;
                view->Paint(reinterpret_cast<HDC>(WParam));
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;  // the paint fills everything
        case WM_WINDOWPOSCHANGED:
            InvalidateRect(Window, nullptr, FALSE);
            break;
        default:
            break;
    }
    return DefWindowProcA(Window, Message, WParam, LParam);
}

}  // namespace wedgecard
