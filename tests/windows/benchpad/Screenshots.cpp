// Pictures of the bench as a tester sees it, for a look at its layout:
//   benchpad_screenshots <folder>
// The main window with a device and an event listed, on each of its tabs; the key selection
// dialog; the driver's device test dialog with a swipe shown. Needs the driver registered.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/windows/benchpad/BenchWindow.h"

namespace {

using namespace benchpad;
using namespace benchpad::test;
using namespace wedgecard::test;

std::vector<std::string> Problems;

bool Check(bool Condition, const char* What) {
    if (!Condition) {
        Problems.emplace_back(What);
    }
    return Condition;
}

HWND WaitForActive(const TBenchWindow& Bench, const std::wstring& Caption) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = ActiveWindowOf(Bench.Thread());
            return found != nullptr && TextOf(found) == Caption && GetForegroundWindow() == found;
        },
        5s);
    return found != nullptr && TextOf(found) == Caption ? found : nullptr;
}

void Save(HWND Window, const std::string& Folder, const char* Name) {
    Sleep(400);  // the last repaints
    const std::string path = Folder + "/" + Name;
    if (Check(SavePicture(Window, path.c_str()), Name)) {
        std::printf("%s\n", path.c_str());
    }
}

void Shoot(const std::string& Folder) {
    TBenchWindow bench;
    // Generous: the first window of a new Wine prefix takes a while.
    if (!Check(bench.WaitForForm(std::chrono::seconds(60)) != nullptr, "the main window opens")) {
        return;
    }
    const TfmMain& form = bench.Form();
    bench.Click("btnOpen");
    Check(WaitUntil([&] { return form.DeviceList().Count() == 1; }), "a device is opened");
    bench.ShowTab(3);
    bench.Click("btnSendData");
    Check(WaitUntil([&] { return form.EventList().StateImage(0) == emAcknowledged; }, 5s),
          "a swipe is listed");
    bench.ShowTab(2);
    bench.Click("btnGetVersion");

    const char* const pictures[] = {"main-1-connection.png", "main-2-event.png", "main-3-other.png",
                                    "main-4-send.png"};
    for (int tab = 0; tab < 4; ++tab) {
        bench.ShowTab(tab);
        Save(form.Handle(), Folder, pictures[tab]);
    }

    // Widened, as a drag of its frame widens it.
    bench.ShowTab(0);
    bench.Resize(form.Handle(), 100);
    Save(form.Handle(), Folder, "main-5-wider.png");

    bench.Click("btnSelectPrefix1");
    if (HWND dialog = WaitForActive(bench, L"Добавить код"); Check(dialog != nullptr, "keys")) {
        Save(dialog, Folder, "select-key.png");
        bench.Resize(dialog, 80, 100);
        Save(dialog, Folder, "select-key-larger.png");
        ClickOn(FindWindowExW(dialog, nullptr, L"Button", L"Отмена"));
        WaitUntil([&] { return !IsWindow(dialog); });
    }

    bench.Click("btnDeviceTest");
    if (HWND dialog = WaitForActive(bench, L"Тест устройства");
        Check(dialog != nullptr, "device test")) {
        // Track 2 of a card framed by Tab and Enter, as the bench's defaults frame it.
        TypeKeys({VK_TAB, VK_OEM_1, '4', '0', '0', '0',         '1', '2', '3', '4', '5', '6', '7',
                  '8',    '9',      '0', '1', '0', VK_OEM_PLUS, '2', '5', '1', '2', '1', '0', '1'});
        TypeKeys({VK_OEM_2}, true);
        TypeKeys({VK_RETURN});
        HWND edit = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
        Check(WaitUntil([&] { return TextOf(edit) == L"#9 ;4000123456789010=2512101? #13 "; }),
              "the swipe shows in the device test");
        Save(dialog, Folder, "device-test.png");
        ClickOn(FindWindowExW(dialog, nullptr, L"Button", L"Закрыть"));
        WaitUntil([&] { return !IsWindow(dialog); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: benchpad_screenshots <folder>\n");
        return 2;
    }
    Shoot(argv[1]);
    for (const std::string& problem : Problems) {
        std::fprintf(stderr, "benchpad_screenshots: failed: %s\n", problem.c_str());
    }
    return Problems.empty() ? 0 : 1;
}
