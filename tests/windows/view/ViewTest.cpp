// Each driver object owns a 40 x 40 view that shows the driver's bitmap in a 3-D frame. The
// test loads the module directly (no registration), finds the object's view among this
// thread's windows and has it paint into a bitmap of ours.
#include <windows.h>

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <vector>

namespace {

// {16A311D8-026A-449B-807C-9C923D3D31EA}
constexpr CLSID DriverClass = {
    0x16A311D8, 0x026A, 0x449B, {0x80, 0x7C, 0x9C, 0x92, 0x3D, 0x3D, 0x31, 0xEA}};

class ViewWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        Module = LoadLibraryA(WEDGECARD_DLL);
        ASSERT_NE(Module, nullptr);
        using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
        const auto getClassObject = reinterpret_cast<TGetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(Module, "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        IClassFactory* factory = nullptr;
        ASSERT_HRESULT_SUCCEEDED(
            getClassObject(DriverClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
        ASSERT_HRESULT_SUCCEEDED(
            factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&Driver)));
        factory->Release();
        View = FindView();
        ASSERT_NE(View, nullptr);
    }

    void TearDown() override {
        if (Driver != nullptr) {
            Driver->Release();
        }
        CoUninitialize();
    }

    // The object's view: a window of class TAxView inside a hidden window of this thread.
    static HWND FindView() {
        HWND found = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &FindViewIn, reinterpret_cast<LPARAM>(&found));
        return found;
    }

    static BOOL CALLBACK FindViewIn(HWND Window, LPARAM Found) {
        HWND view = FindWindowExA(Window, nullptr, "TAxView", nullptr);
        if (view == nullptr) {
            return TRUE;
        }
        *reinterpret_cast<HWND*>(Found) = view;
        return FALSE;
    }

    // The view painted into a 24-bit bitmap of its client size; pixels as COLORREF.
    std::vector<COLORREF> Paint(int& Width, int& Height) {
        RECT client;
        GetClientRect(View, &client);
        Width = client.right;
        Height = client.bottom;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = Width;
        info.bmiHeader.biHeight = -Height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        SendMessageA(View, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
        GdiFlush();
        std::vector<COLORREF> pixels(static_cast<std::size_t>(Width * Height));
        const auto* data = static_cast<const std::uint32_t*>(bits);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const std::uint32_t bgr = data[i];
            pixels[i] = RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return pixels;
    }

    HMODULE Module = nullptr;
    IUnknown* Driver = nullptr;
    HWND View = nullptr;
};

COLORREF At(const std::vector<COLORREF>& Pixels, int Width, int X, int Y) {
    return Pixels[static_cast<std::size_t>(Y * Width + X)];
}

constexpr COLORREF Stripe = RGB(20, 20, 20);
constexpr COLORREF Card = RGB(70, 130, 200);
constexpr COLORREF Chip = RGB(220, 180, 60);

TEST_F(ViewWindow, IsFortyPixelsSquareAndParkedOutOfSight) {
    RECT client;
    GetClientRect(View, &client);
    EXPECT_EQ(client.right, 40);
    EXPECT_EQ(client.bottom, 40);
    EXPECT_FALSE(IsWindowVisible(GetParent(View)));
}

TEST_F(ViewWindow, PaintsAFrameAndTheBitmapCentred) {
    int width = 0;
    int height = 0;
    const auto pixels = Paint(width, height);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(At(pixels, width, 0, 0), light);
    EXPECT_EQ(At(pixels, width, 0, 20), light);
    EXPECT_EQ(At(pixels, width, 20, 0), light);
    EXPECT_EQ(At(pixels, width, 39, 20), shadow);
    EXPECT_EQ(At(pixels, width, 20, 39), shadow);
    EXPECT_EQ(At(pixels, width, 1, 1), face);
    // The bitmap's top-left corner is magenta, which is transparent: the face shows through.
    EXPECT_EQ(At(pixels, width, 4, 4), face);
    // Its stripe (bitmap rows 9 to 12), the card and the chip, placed at (4, 4).
    EXPECT_EQ(At(pixels, width, 4 + 10, 4 + 10), Stripe);
    EXPECT_EQ(At(pixels, width, 4 + 10, 4 + 18), Card);
    EXPECT_EQ(At(pixels, width, 4 + 24, 4 + 17), Chip);
    EXPECT_EQ(At(pixels, width, 4 + 10, 4 + 8), Card);
}

TEST_F(ViewWindow, CentresTheBitmapWhenResizedRoundingHalvesToEven) {
    // Inside a 41-pixel square the centre falls on 4.5, which rounds to 4; in 43, 5.5 to 6.
    for (const auto& [size, origin] : {std::pair{41, 4}, std::pair{43, 6}}) {
        SCOPED_TRACE(size);
        SetWindowPos(View, nullptr, 0, 0, size, size, SWP_NOMOVE | SWP_NOZORDER);
        int width = 0;
        int height = 0;
        const auto pixels = Paint(width, height);
        ASSERT_EQ(width, size);
        EXPECT_EQ(At(pixels, width, origin + 10, origin + 9), Stripe);
        EXPECT_NE(At(pixels, width, origin + 10, origin + 8), Stripe);
    }
}

TEST(ViewModule, UnloadsAndLoadsAgainOnceEveryObjectIsGone) {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HMODULE module = LoadLibraryA(WEDGECARD_DLL);
        ASSERT_NE(module, nullptr);
        using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
        using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
        const auto getClassObject = reinterpret_cast<TGetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        const auto canUnloadNow = reinterpret_cast<TCanUnloadNow>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        IClassFactory* factory = nullptr;
        ASSERT_HRESULT_SUCCEEDED(
            getClassObject(DriverClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
        IUnknown* driver = nullptr;
        ASSERT_HRESULT_SUCCEEDED(
            factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&driver)));
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        factory->Release();
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        driver->Release();
        EXPECT_EQ(canUnloadNow(), S_OK);
        ASSERT_TRUE(FreeLibrary(module));
    }
    CoUninitialize();
}

}  // namespace
