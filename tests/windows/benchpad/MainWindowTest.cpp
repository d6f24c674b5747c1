// The bench's main window as a tester uses it: clicks on its buttons, tabs, lists and menu,
// with the registered driver behind it, card swipes typed through the system's input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/windows/benchpad/BenchWindow.h"

namespace benchpad::test {
namespace {

using testing::ElementsAre;
using testing::StartsWith;
using wedgecard::test::PlaceOf;
using wedgecard::test::TMouseButton;
using wedgecard::test::TypeKeys;
using wedgecard::test::TypeKeysHolding;
using wedgecard::test::WaitUntil;

constexpr int ConnectionTab = 0;
constexpr int EventTab = 1;
constexpr int OtherTab = 2;
constexpr int SendTab = 3;

const std::wstring CardRead = L"ЧтениеКодаМагнитнойКарты";
const std::wstring DefaultCard = L"@1;12345=67890?@2Track2@3Track3";
const std::wstring Succeeded = L"True (0) Ошибок нет";

class MainWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Bench.WaitForForm(), nullptr) << "the window did not open";
        ASSERT_TRUE(Bench.Form().DriverConnected());
    }

    [[nodiscard]] TListView Devices() const { return Bench.Form().DeviceList(); }
    [[nodiscard]] TListView Events() const { return Bench.Form().EventList(); }

    // Opens a device with the settings on the tab "Подключение"; its row, -1 when none came.
    int OpenDevice() {
        const int before = Devices().Count();
        if (!Bench.ShowTab(ConnectionTab)) {
            return -1;
        }
        Bench.Click("btnOpen");
        return WaitUntil([&] { return Devices().Count() == before + 1; }) ? before : -1;
    }

    // "Отправить данные" with what the tab "Посылка" holds; true once Count event rows are
    // listed.
    bool Swipe(int Count) {
        if (!Bench.ShowTab(SendTab)) {
            return false;
        }
        Bench.Click("btnSendData");
        return WaitUntil([&] { return Events().Count() >= Count; }, 5s);
    }

    bool WaitForMark(int Row, int Mark) {
        return WaitUntil([&] { return Events().StateImage(Row) == Mark; });
    }

    bool WaitForResult(const std::wstring& Text) {
        return WaitUntil([&] { return Bench.TextOf("edtResult") == Text; });
    }

    TBenchWindow Bench;
};

bool Overlap(const RECT& A, const RECT& B) {
    RECT common{};
    return IntersectRect(&common, &A, &B) != FALSE;
}

bool Inside(const RECT& Inner, const RECT& Outer) {
    return Inner.left >= Outer.left && Inner.top >= Outer.top && Inner.right <= Outer.right &&
           Inner.bottom <= Outer.bottom;
}

struct TPlacedControl {
    std::wstring Text;
    // For a label, where its text lies: the label is wider and lies under its neighbours.
    RECT Place;
    // What a check box needs for its box and its text.
    int NeededWidth;
};

// The visible controls that lie on the tab control's pages, with their places in the form.
std::vector<TPlacedControl> PageControls(const TfmMain& Form, RECT PageArea) {
    std::vector<TPlacedControl> found;
    for (HWND child = GetWindow(Form.Handle(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT place = PlaceOf(child);
        if (!IsWindowVisible(child) || child == Form.Control("pgcTop") ||
            !Overlap(place, PageArea)) {
            continue;
        }
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        const std::wstring text = wedgecard::test::TextOf(child);
        const auto type = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)) & BS_TYPEMASK;
        int needed = 0;
        if (std::wstring(className) == L"Static") {
            place.right = place.left + TextWidth(child, text);
        } else if (std::wstring(className) == L"Button" && type == BS_AUTOCHECKBOX) {
            needed = GetSystemMetrics(SM_CXMENUCHECK) + TextWidth(child, text);
        }
        found.push_back({text, place, needed});
    }
    return found;
}

TEST_F(MainWindow, OpensOnTheConnectionTabWithTheInitialSettings) {
    const TfmMain& form = Bench.Form();
    EXPECT_EQ(wedgecard::test::TextOf(form.Handle()), L"Тест драйвера СМК 1.0.0.8");
    EXPECT_NE(SendMessageW(form.Handle(), WM_GETICON, ICON_BIG, 0), 0) << "the program's icon";
    EXPECT_EQ(form.ActivePage("pgcTop"), "tsMain");
    EXPECT_TRUE(IsWindowVisible(form.Control("btnOpen")));
    EXPECT_FALSE(IsWindowVisible(form.Control("btnSendData")));

    const std::vector<std::pair<const char*, std::wstring>> texts = {
        {"edtSensitivity", L"100"},
        {"edtPrefix1", L"#9"},
        {"edtSuffix1", L"#13"},
        {"edtPrefix2", L"#33"},
        {"edtSuffix2", L"#34"},
        {"edtPrefix3", L"#35"},
        {"edtSuffix3", L"#36"},
        {"edtTrack1", L";12345=67890?"},
        {"edtTestPrefix1", L"#9"},
        {"edtTestSuffix1", L"#13"},
        {"edtTrack2", L"Track2"},
        {"edtTestPrefix2", L"#33"},
        {"edtTestSuffix2", L"#34"},
        {"edtTrack3", L"Track3"},
        {"edtTestPrefix3", L"#35"},
        {"edtTestSuffix3", L"#36"},
        {"edtResult", L""},
        {"btnDeviceTest", L"ТестУстройства"},
        {"chkAutoProcess", L"Обрабатывать автоматич."}};
    for (const auto& [control, text] : texts) {
        EXPECT_EQ(Bench.TextOf(control), text) << control;
    }
    for (const char* check : {"chkLogEnabled", "chkStateFlag", "chkAutoProcess"}) {
        EXPECT_TRUE(Bench.Checked(check)) << check;
    }
    EXPECT_EQ(Devices().Count(), 0);
    EXPECT_EQ(Events().Count(), 0);
    std::vector<std::wstring> columns;
    for (int column = 0; column < Devices().ColumnCount(); ++column) {
        columns.push_back(Devices().ColumnCaption(column));
    }
    EXPECT_THAT(columns, ElementsAre(L"ИДУстройства", L"Чувств.", L"Преф1", L"Суфф1", L"Преф2",
                                     L"Суфф2", L"Преф3", L"Суфф3", L"Лог"));
    columns.clear();
    for (int column = 0; column < Events().ColumnCount(); ++column) {
        columns.push_back(Events().ColumnCaption(column));
    }
    EXPECT_THAT(columns, ElementsAre(L"№", L"ИДУстройства", L"Тип", L"Данные"));
}

TEST_F(MainWindow, EveryPageShowsItsControlsSideBySideInsideTheTabs) {
    const TfmMain& form = Bench.Form();
    RECT pageArea = PlaceOf(form.Control("pgcTop"));
    SendMessageW(form.Control("pgcTop"), TCM_ADJUSTRECT, FALSE,
                 reinterpret_cast<LPARAM>(&pageArea));
    for (int tab = ConnectionTab; tab <= SendTab; ++tab) {
        ASSERT_TRUE(Bench.ShowTab(tab));
        const auto controls = PageControls(form, pageArea);
        EXPECT_GE(controls.size(), 2u) << "tab " << tab;
        for (std::size_t i = 0; i < controls.size(); ++i) {
            const TPlacedControl& control = controls[i];
            EXPECT_TRUE(Inside(control.Place, pageArea))
                << "tab " << tab << ": " << testing::PrintToString(control.Text);
            // Whole captions, in the font the system really draws with.
            EXPECT_GE(control.Place.right - control.Place.left, control.NeededWidth)
                << testing::PrintToString(control.Text);
            for (std::size_t j = i + 1; j < controls.size(); ++j) {
                EXPECT_FALSE(Overlap(control.Place, controls[j].Place))
                    << testing::PrintToString(control.Text) << " and "
                    << testing::PrintToString(controls[j].Text);
            }
        }
    }

    // Wider and taller: the buttons keep to the right edge, the lists take the room.
    const RECT open = PlaceOf(form.Control("btnOpen"));
    const RECT events = PlaceOf(form.Control("lvEvents"));
    RECT client{};
    GetClientRect(form.Handle(), &client);
    Bench.OnUiThread([&] {
        RECT frame{};
        GetWindowRect(form.Handle(), &frame);
        SetWindowPos(form.Handle(), nullptr, 0, 0, frame.right - frame.left + 100,
                     frame.bottom - frame.top + 50, SWP_NOMOVE | SWP_NOZORDER);
    });
    ASSERT_TRUE(Bench.ShowTab(ConnectionTab));
    RECT wider{};
    GetClientRect(form.Handle(), &wider);
    const RECT movedOpen = PlaceOf(form.Control("btnOpen"));
    const RECT grownEvents = PlaceOf(form.Control("lvEvents"));
    EXPECT_EQ(wider.right - movedOpen.right, client.right - open.right);
    EXPECT_EQ(movedOpen.right - movedOpen.left, open.right - open.left);
    EXPECT_EQ(grownEvents.right - grownEvents.left, events.right - events.left + 100);
    EXPECT_EQ(grownEvents.bottom - grownEvents.top, events.bottom - events.top + 50);
}

TEST_F(MainWindow, OpenListsTheDeviceWithTheSettingsTheDriverReadAndCloseRemovesIt) {
    ASSERT_EQ(OpenDevice(), 0);
    const std::vector<std::wstring> first = Devices().Row(0);
    ASSERT_EQ(first.size(), 9u);
    EXPECT_EQ(first[0].size(), 36u) << "a GUID without braces";
    EXPECT_THAT(std::vector(first.begin() + 1, first.end()),
                ElementsAre(L"100", L"#9", L"#13", L"#33", L"#34", L"#35", L"#36", L"Вкл."));
    EXPECT_EQ(Devices().Selected(), 0);
    EXPECT_TRUE(WaitForResult(Succeeded));

    // Log switched off and a second device: its own row and identifier, selected.
    Bench.Click("chkLogEnabled");
    ASSERT_TRUE(WaitUntil([&] { return !Bench.Checked("chkLogEnabled"); }));
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(Devices().Text(1, 8), L"Выкл.");
    EXPECT_NE(Devices().Text(1, 0), first[0]);
    EXPECT_EQ(Devices().Selected(), 1);

    // Closing the first leaves the second, selected.
    Bench.ClickRow(Devices(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Devices().Selected() == 0; }));
    Bench.OnUiThread([&] { Bench.Form().SetText("edtResult", ""); });
    Bench.Click("btnClose");
    ASSERT_TRUE(WaitUntil([&] { return Devices().Count() == 1; }));
    EXPECT_NE(Devices().Text(0, 0), first[0]);
    EXPECT_EQ(Devices().Selected(), 0);
    EXPECT_TRUE(WaitForResult(Succeeded));

    Bench.Click("btnClose");
    ASSERT_TRUE(WaitUntil([&] { return Devices().Count() == 0; }));
    EXPECT_EQ(Devices().Selected(), -1);

    // Nothing left to close.
    Bench.Click("btnClose");
    const TMessageBox box = Bench.TakeMessageBox();
    EXPECT_EQ(box.Text, L"Ни одно устройство не выбрано");
    EXPECT_FALSE(box.HasIcon) << "a plain message";
}

TEST_F(MainWindow, ASwipeBecomesAnEventRowThatIsAcknowledgedAutomatically) {
    ASSERT_EQ(OpenDevice(), 0);
    const std::wstring device = Devices().Text(0, 0);
    ASSERT_TRUE(Swipe(1)) << "no event came";
    EXPECT_THAT(Events().Row(0), ElementsAre(L"1", device, CardRead, DefaultCard));
    EXPECT_TRUE(WaitForMark(0, emAcknowledged)) << Events().StateImage(0);
    EXPECT_EQ(Events().Selected(), 0);
    EXPECT_EQ(Devices().Selected(), 0) << "the event's device is selected";

    ASSERT_TRUE(Swipe(2));
    EXPECT_THAT(Events().Row(1), ElementsAre(L"2", device, CardRead, DefaultCard));
    EXPECT_TRUE(WaitForMark(1, emAcknowledged));
    EXPECT_EQ(Events().Selected(), 1);
}

TEST_F(MainWindow, EventsDeliveredInsideAnAcknowledgementGetRowsAndNumbersOfTheirOwn) {
    ASSERT_EQ(OpenDevice(), 0);
    ASSERT_EQ(OpenDevice(), 1);
    // One card, two devices that recognise it: the second event comes from inside the
    // automatic acknowledgement of the first.
    ASSERT_TRUE(Swipe(2));
    EXPECT_THAT(Events().Row(0), ElementsAre(L"1", Devices().Text(0, 0), CardRead, DefaultCard));
    EXPECT_THAT(Events().Row(1), ElementsAre(L"2", Devices().Text(1, 0), CardRead, DefaultCard));
    EXPECT_TRUE(WaitForMark(0, emAcknowledged));
    EXPECT_TRUE(WaitForMark(1, emAcknowledged));

    ASSERT_TRUE(Swipe(4));
    EXPECT_EQ(Events().Text(2, 0), L"3");
    EXPECT_EQ(Events().Text(3, 0), L"4");
}

TEST_F(MainWindow, AcknowledgedByHandTheMarkFollowsTheStateFlag) {
    ASSERT_EQ(OpenDevice(), 0);
    ASSERT_TRUE(Bench.ShowTab(EventTab));
    Bench.Click("chkAutoProcess");
    ASSERT_TRUE(WaitUntil([&] { return !Bench.Checked("chkAutoProcess"); }));

    ASSERT_TRUE(Swipe(1));
    EXPECT_EQ(Events().StateImage(0), emReceived);
    ASSERT_TRUE(Bench.ShowTab(EventTab));
    Bench.Click("btnEventProcessed");
    EXPECT_TRUE(WaitForMark(0, emAcknowledged));
    EXPECT_TRUE(WaitForResult(Succeeded));

    ASSERT_TRUE(Swipe(2));
    EXPECT_EQ(Events().StateImage(1), emReceived);
    ASSERT_TRUE(Bench.ShowTab(EventTab));
    Bench.Click("chkStateFlag");
    ASSERT_TRUE(WaitUntil([&] { return !Bench.Checked("chkStateFlag"); }));
    Bench.Click("btnEventProcessed");
    EXPECT_TRUE(WaitForMark(1, emRejected));
    // Refused, the event comes again, and waits for its acknowledgement.
    ASSERT_TRUE(WaitUntil([&] { return Events().Count() == 3; }));
    EXPECT_THAT(Events().Row(2), ElementsAre(L"3", Devices().Text(0, 0), CardRead, DefaultCard));
    EXPECT_EQ(Events().StateImage(2), emReceived);

    // A row acknowledged before can be acknowledged again; the mark follows the latest.
    Bench.ClickRow(Events(), 1);
    ASSERT_TRUE(WaitUntil([&] { return Events().Selected() == 1; }));
    Bench.Click("chkStateFlag");
    ASSERT_TRUE(WaitUntil([&] { return Bench.Checked("chkStateFlag"); }));
    Bench.Click("btnEventProcessed");
    EXPECT_TRUE(WaitForMark(1, emAcknowledged));
}

TEST_F(MainWindow, SelectingAnEventSelectsItsDeviceAndKeepsTheFocusInTheEvents) {
    ASSERT_EQ(OpenDevice(), 0);
    ASSERT_TRUE(Swipe(1));
    ASSERT_EQ(OpenDevice(), 1);
    ASSERT_TRUE(Swipe(3));
    ASSERT_EQ(Events().Selected(), 2);
    ASSERT_EQ(Devices().Selected(), 1);

    Bench.ClickRow(Events(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Devices().Selected() == 0; }));
    EXPECT_EQ(Events().Selected(), 0);
    EXPECT_EQ(wedgecard::test::FocusOf(Bench.Thread()), Events().Handle());

    // An event of no listed device: no device stays selected.
    ASSERT_TRUE(Bench.ShowTab(ConnectionTab));
    Bench.ClickRow(Devices(), 0);
    Bench.Click("btnClose");
    ASSERT_TRUE(WaitUntil([&] { return Devices().Count() == 1; }));
    Bench.ClickRow(Events(), 1);
    ASSERT_TRUE(WaitUntil([&] { return Events().Selected() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return Devices().Selected() == -1; }));
}

TEST_F(MainWindow, TheOtherTabShowsTheVersionAndTheLastError) {
    ASSERT_TRUE(Bench.ShowTab(OtherTab));
    Bench.Click("btnGetVersion");
    EXPECT_TRUE(WaitForResult(L"1.0.0.8"));
    Bench.Click("btnGetLastError");
    EXPECT_TRUE(WaitForResult(L"(0) Ошибок нет"));

    // The driver's own failure: the result line tells it with False.
    ASSERT_TRUE(Bench.ShowTab(ConnectionTab));
    Bench.Click("btnClearPrefix1");
    Bench.TypeInto("edtPrefix1", {'A', 'B', 'C'});
    ASSERT_TRUE(WaitUntil([&] { return Bench.TextOf("edtPrefix1") == L"abc"; }));
    Bench.Click("btnOpen");
    EXPECT_TRUE(WaitForResult(L"False (6) ПрефиксДрайвера1: Неверный формат строки данных"));
    EXPECT_EQ(Devices().Count(), 0);
    ASSERT_TRUE(Bench.ShowTab(OtherTab));
    Bench.Click("btnGetLastError");
    EXPECT_TRUE(WaitForResult(L"(6) ПрефиксДрайвера1: Неверный формат строки данных"));
}

TEST_F(MainWindow, TheEventMenuCopiesALineOrItsDataAndClearsTheList) {
    ASSERT_EQ(OpenDevice(), 0);
    const std::wstring device = Devices().Text(0, 0);
    ASSERT_TRUE(Swipe(1));
    ASSERT_TRUE(Swipe(2));

    Bench.ClickRow(Events(), 0, TMouseButton::Right);
    ASSERT_TRUE(Bench.ChooseMenuItem(Bench.Form().EventMenu(), 0));
    EXPECT_TRUE(WaitUntil([&] {
        return ClipboardText() == L"1 " + device + L" " + CardRead + L" " + DefaultCard;
    })) << testing::PrintToString(ClipboardText());

    Bench.ClickRow(Events(), 1, TMouseButton::Right);
    ASSERT_TRUE(Bench.ChooseMenuItem(Bench.Form().EventMenu(), 1));
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == DefaultCard; }))
        << testing::PrintToString(ClipboardText());

    Bench.ClickRow(Events(), 1, TMouseButton::Right);
    ASSERT_TRUE(Bench.ChooseMenuItem(Bench.Form().EventMenu(), 2));
    ASSERT_TRUE(WaitUntil([&] { return Events().Count() == 0; }));
    ASSERT_TRUE(Swipe(1));
    EXPECT_EQ(Events().Text(0, 0), L"1") << "numbering starts again";
}

TEST_F(MainWindow, ErrorsOfACommandAreShownAndChangeNothing) {
    // A sensitivity that is no number: the driver is not called.
    Bench.TypeInto("edtSensitivity", {'A', 'B', 'C'});
    ASSERT_TRUE(WaitUntil([&] { return Bench.TextOf("edtSensitivity") == L"abc"; }));
    Bench.Click("btnDeviceTest");
    TMessageBox box = Bench.TakeMessageBox();
    EXPECT_EQ(box.Text, L"'abc' не является целым числом");
    EXPECT_TRUE(box.HasIcon) << "the error box";
    EXPECT_EQ(Bench.TextOf("edtResult"), L"");
    Bench.Click("btnOpen");
    EXPECT_EQ(Bench.TakeMessageBox().Text, L"'abc' не является целым числом");
    EXPECT_EQ(Devices().Count(), 0);

    ASSERT_TRUE(Bench.ShowTab(EventTab));
    Bench.Click("btnEventProcessed");
    box = Bench.TakeMessageBox();
    EXPECT_EQ(box.Text, L"Ни одного события не выбрано");
    EXPECT_FALSE(box.HasIcon);
}

TEST_F(MainWindow, AMalformedTrackSendsNoKeyAndItsErrorStaysUntilClosed) {
    // With no device to take them, keys sent before the error would reach the error box,
    // and the Enter that ends track 1 would close it.
    ASSERT_TRUE(Bench.ShowTab(SendTab));
    Bench.TypeInto("edtTestSuffix3", {'9'});
    ASSERT_TRUE(WaitUntil([&] { return Bench.TextOf("edtTestSuffix3") == L"9"; }));
    Bench.Click("btnSendData");
    const TMessageBox box = wedgecard::test::WaitForMessageBox(Bench.Thread());
    ASSERT_NE(box.Handle, nullptr);
    EXPECT_EQ(box.Text, L"Неверный формат строки префикса/суффикса");
    EXPECT_TRUE(box.HasIcon);
    Sleep(1000);  // long after keys sent with it would have arrived
    EXPECT_TRUE(IsWindowVisible(box.Handle)) << "the box went without the user";
    ASSERT_TRUE(wedgecard::test::CloseMessageBox(box));

    // A device sees nothing of the card either.
    ASSERT_EQ(OpenDevice(), 0);
    ASSERT_TRUE(Bench.ShowTab(SendTab));
    Bench.Click("btnSendData");
    EXPECT_EQ(Bench.TakeMessageBox().Text, L"Неверный формат строки префикса/суффикса");
    Sleep(500);  // five times the quiet time
    EXPECT_EQ(Events().Count(), 0);
}

TEST_F(MainWindow, DeviceTestShowsTheDriversDialogOverTheWindow) {
    Bench.Click("btnDeviceTest");
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        dialog = wedgecard::test::ActiveWindowOf(Bench.Thread());
        return dialog != nullptr && wedgecard::test::TextOf(dialog) == L"Тест устройства";
    }));
    EXPECT_FALSE(IsWindowEnabled(Bench.Form().Handle()));
    HWND close = FindWindowExW(dialog, nullptr, L"Button", L"Закрыть");
    ASSERT_NE(close, nullptr);
    wedgecard::test::ClickOn(close);
    EXPECT_TRUE(WaitForResult(Succeeded));
    EXPECT_TRUE(IsWindowEnabled(Bench.Form().Handle()));
}

TEST_F(MainWindow, TheTabsAreReachedFromTheKeyboard) {
    const TfmMain& form = Bench.Form();
    const auto pageIs = [&](const char* Page) {
        return WaitUntil([&] { return form.ActivePage("pgcTop") == Page; });
    };
    Bench.Click("edtSensitivity");
    ASSERT_TRUE(WaitUntil([&] {
        return wedgecard::test::FocusOf(Bench.Thread()) == form.Control("edtSensitivity");
    }));

    TypeKeysHolding({VK_CONTROL}, {VK_TAB});
    EXPECT_TRUE(pageIs("tsEvent"));
    // The focus goes along to the page shown, not into a hidden one.
    EXPECT_TRUE(WaitUntil(
        [&] { return wedgecard::test::FocusOf(Bench.Thread()) == form.Control("chkStateFlag"); }));
    TypeKeysHolding({VK_CONTROL}, {VK_NEXT});
    EXPECT_TRUE(pageIs("tsOther"));
    TypeKeysHolding({VK_CONTROL, VK_SHIFT}, {VK_TAB});
    EXPECT_TRUE(pageIs("tsEvent"));
    TypeKeysHolding({VK_CONTROL}, {VK_PRIOR});
    EXPECT_TRUE(pageIs("tsMain"));
    TypeKeysHolding({VK_CONTROL}, {VK_PRIOR});
    EXPECT_TRUE(pageIs("tsSend")) << "round from the first to the last";

    // The tabs are a tab stop, and their arrow keys turn the pages.
    TypeKeys({VK_TAB}, true);
    ASSERT_TRUE(WaitUntil(
        [&] { return wedgecard::test::FocusOf(Bench.Thread()) == form.Control("pgcTop"); }));
    TypeKeys({VK_LEFT});
    EXPECT_TRUE(pageIs("tsOther"));
}

TEST_F(MainWindow, TheLogColumnIsAsWideAsItsCaptionAndValues) {
    ASSERT_EQ(OpenDevice(), 0);
    const HWND list = Devices().Handle();
    const auto width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 8, 0));
    for (const wchar_t* text : {L"Лог", L"Вкл.", L"Выкл."}) {
        EXPECT_GT(width, TextWidth(list, text)) << testing::PrintToString(std::wstring(text));
    }
}

TEST_F(MainWindow, WideningTheWindowLeavesNoOldEdgeInsideTheGroupBoxes) {
    const TfmMain& form = Bench.Form();
    const auto group = [&](const char* Name) { return PlaceOf(form.Control(Name)); };
    const RECT devices = group("grpDeviceList");
    const RECT events = group("grpEventList");
    // Between the frame's top line and the list, where the old right edge stood, the group
    // shows what it shows further left, beyond its caption.
    const auto edgeGone = [&](const RECT& Old, const char* List) {
        const int bottom = PlaceOf(form.Control(List)).top - 2;
        for (int y = Old.top + 12; y < bottom; ++y) {
            const COLORREF inside = PixelOf(form.Handle(), POINT{Old.left + 300, y});
            for (int x = Old.right - 4; x < Old.right + 4; ++x) {
                if (PixelOf(form.Handle(), POINT{x, y}) != inside) {
                    return false;
                }
            }
        }
        return true;
    };
    Bench.OnUiThread([&] {
        RedrawWindow(form.Handle(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    });
    ASSERT_FALSE(edgeGone(devices, "lvDeviceList")) << "the edge is drawn before";
    Bench.Resize(form.Handle(), 100);
    ASSERT_EQ(group("grpDeviceList").right, devices.right + 100);
    EXPECT_TRUE(WaitUntil([&] { return edgeGone(devices, "lvDeviceList"); }));
    EXPECT_TRUE(WaitUntil([&] { return edgeGone(events, "lvEvents"); }));
}

}  // namespace
}  // namespace benchpad::test
