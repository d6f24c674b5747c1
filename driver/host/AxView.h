#pragma once

#include <windows.h>

#include <memory>

namespace wedgecard {

// The control's view: a 40 x 40 window that shows the driver's bitmap inside a
// one-pixel 3-D frame. Each driver object owns one, parked in a hidden window of its own until
// a container places it.
class TAxView {
public:
    // Null when the window cannot be made (no window station, say): the driver works without.
    [[nodiscard]] static std::unique_ptr<TAxView> Create();

    TAxView(const TAxView&) = delete;
    TAxView& operator=(const TAxView&) = delete;
    ~TAxView();

    [[nodiscard]] HWND Handle() const noexcept { return FWindow; }

    // Releases the window class, which outlives the objects but not the module.
    static void UnregisterWindowClass() noexcept;

    // Where the bitmap lands inside Client: centred in the rectangle inside the frame.
    [[nodiscard]] static POINT BitmapOrigin(const RECT& Client, int Width, int Height) noexcept;

private:
    TAxView() = default;
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
    void Paint(HDC Context) const;

    HWND FParking = nullptr;
    HWND FWindow = nullptr;
    HBITMAP FBitmap = nullptr;
    HPALETTE FPalette = nullptr;
    SIZE FBitmapSize{};
};

}  // namespace wedgecard
