// Opens the device test dialog, types a sample swipe into it and saves a picture of the window
// as a PNG file: device_test_screenshot <file.png>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "driver/diagnostics/fmuDeviceTest.h"
#include "tests/windows/dialog/UiTest.h"

namespace {

using namespace wedgecard;
using namespace wedgecard::test;
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

// The window as it is on the screen, frame and caption included (which Wine draws only when it
// does not leave frames to a window manager).
bool SavePicture(HWND Window, const char* Path) {
    RECT frame{};
    GetWindowRect(Window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC window = GetWindowDC(Window);
    HDC memory = CreateCompatibleDC(window);
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY) != FALSE;
    GdiFlush();

    std::string raw;
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    const auto columns = static_cast<std::size_t>(width);
    const auto rows = static_cast<std::size_t>(height);
    for (std::size_t y = 0; copied && y < rows; ++y) {
        raw += '\0';  // no filter
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint8_t* pixel = pixels + (y * columns + x) * 4;
            raw += static_cast<char>(pixel[2]);
            raw += static_cast<char>(pixel[1]);
            raw += static_cast<char>(pixel[0]);
        }
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(Window, window);
    if (!copied) {
        return false;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: device_test_screenshot <file.png>\n");
        return 2;
    }
    TfmDeviceTest form;
    HWND edit = form.Control("edtTestInput");
    TUser user([&](TUser& User) {
        if (!User.WaitForDialog(WideText("Тест устройства"))) {
            return;
        }
        // Track 2 of a card framed by Tab and Enter, as a reader set up like the bench's
        // defaults types it (US layout codes).
        TypeKeys({VK_TAB, VK_OEM_1, '4', '0', '0', '0',         '1', '2', '3', '4', '5', '6', '7',
                  '8',    '9',      '0', '1', '0', VK_OEM_PLUS, '2', '5', '1', '2', '1', '0', '1'});
        TypeKeys({VK_OEM_2}, true);
        TypeKeys({VK_RETURN});
        User.WaitFor([&] { return TextOf(edit) == L"#9 ;4000123456789010=2512101? #13 "; },
                     "the swipe is shown");
        Sleep(300);  // the edit's repaint
        User.Check(SavePicture(User.Dialog, argv[1]), "the picture is saved");
        ClickOn(form.Control("btnClose"));
    });
    form.ShowModal();
    const std::vector<std::string> problems = user.Problems();
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "device_test_screenshot: %s\n", problem.c_str());
    }
    return problems.empty() ? 0 : 1;
}
