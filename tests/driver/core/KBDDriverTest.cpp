#include "driver/core/KBDDriver.h"

#include <gtest/gtest.h>

#include "driver/core/untError.h"
#include "tests/driver/core/DriverFixture.h"

namespace wedgecard::test {
namespace {

using DriverOpen = DriverTest;
using DriverClose = DriverTest;
using DriverDeviceTest = DriverTest;
using DriverVersion = DriverTest;
using DriverErrors = DriverTest;

const std::string ReadFailure = "Не удалось получить данные из массива значений: ";

TEST_F(DriverErrors, NewDriverReportsNoError) {
    EXPECT_EQ(Driver.LastErrorCode(), 0);
    EXPECT_EQ(Driver.LastErrorText(), "Ошибок нет");
}

TEST_F(DriverOpen, GivesEachDeviceItsOwnIdentifierAndKeepsAllOpen) {
    const std::string first = Open(Settings(100, "#37", "#13", "", "", "", ""));
    const std::string second = Open(Settings(100, "#37", "#13", "", "", "", ""));
    EXPECT_NE(first, second);
    EXPECT_EQ(first.size(), 36u);
    ASSERT_EQ(Driver.Devices().Count(), 2);
    EXPECT_EQ(Driver.Devices().Items(0)->ID(), first);
    EXPECT_EQ(Driver.Devices().Items(0)->Frame->CardPrefixes(),
              std::optional(std::vector<std::string>{"\x25"}));
    EXPECT_EQ(Driver.Devices().Items(0)->Frame->CardEnds(), "\x0D");
    EXPECT_TRUE(Driver.KeyboardHook().Active());
    EXPECT_EQ(Driver.LastErrorCode(), 0);
}

TEST_F(DriverOpen, ReadsTheEightSettingsInIndexOrder) {
    auto values = Settings(100, "", "", "", "", "", "");
    std::wstring id;
    ASSERT_TRUE(Driver.Open(values, id));
    EXPECT_EQ(values.ReadIndexes, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(DriverOpen, RejectsANegativeSensitivityAndChangesNothing) {
    OpenBenchDevice(250);
    auto values = Settings(-1, "", "", "", "", "", "");
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorCode(), 6);
    EXPECT_EQ(Driver.LastErrorText(), "Некорректное значение параметра \"Чувствительность\"");
    EXPECT_EQ(Driver.Devices().Count(), 1);
    EXPECT_TRUE(Driver.KeyboardHook().Active());
    EXPECT_EQ(Driver.KeyboardHook().Sensitivity(), 250);
}

TEST_F(DriverOpen, AcceptsZeroAndTextualSensitivity) {
    Open(Settings(0, "", "", "", "", "", ""));
    EXPECT_EQ(Driver.KeyboardHook().Sensitivity(), 0);
    auto values = Settings(0, "", "", "", "", "", "");
    values.Values[0] = std::string("250");
    Open(values);
    EXPECT_EQ(Driver.KeyboardHook().Sensitivity(), 250);
    EXPECT_EQ(Driver.Devices().Items(1)->Sensitivity, 250);
}

TEST_F(DriverOpen, FailsToReadSensitivityGivenAsLetters) {
    auto values = Settings(0, "", "", "", "", "", "");
    values.Values[0] = std::string("abc");
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorCode(), 2);
    EXPECT_EQ(Driver.LastErrorText(), ReadFailure + TypeMismatchText);
    EXPECT_EQ(Driver.Devices().Count(), 0);
}

TEST_F(DriverOpen, FailsOnAnArrayWithTooFewValues) {
    TFakeValuesArray values({100, std::string("#9"), std::string("#13")});
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorCode(), 2);
    EXPECT_EQ(Driver.LastErrorText(), ReadFailure + InvalidIndexText);
    EXPECT_EQ(Driver.Devices().Count(), 0);
    EXPECT_FALSE(Driver.KeyboardHook().Active());
}

TEST_F(DriverOpen, ReadsAllValuesBeforeCheckingTheSensitivity) {
    TFakeValuesArray values({-5, std::string(), std::string(), std::string(), std::string(),
                             std::string(), std::string()});
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorCode(), 2);
}

TEST_F(DriverOpen, ReportsAFailingArrayReadWithItsMessage) {
    auto values = Settings(100, "", "", "", "", "", "");
    values.FailingReads[5] = "Get failed";
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorText(), ReadFailure + "Get failed");
}

TEST_F(DriverOpen, NamesTheMalformedSettingAndLogsTheError) {
    auto values = Settings(100, "#9", "#13", "#33", "#65;", "#35", "#36");
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorCode(), 6);
    EXPECT_EQ(Driver.LastErrorText(), "СуффиксДрайвера2: Неверный формат строки данных");
    EXPECT_EQ(Driver.Devices().Count(), 0);
    // Logging is on from the start in the assembled driver; switch it on here the same way.
    LogFile().SetFileName(Folder.File("Wedgecard.log"));
    LogFile().SetEnabled(true);
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_NE(LogText().find(
                  "[ERROR] TKBDDriver (6) СуффиксДрайвера2: Неверный формат строки данных\r\n"),
              std::string::npos);
}

TEST_F(DriverOpen, StopsAtTheFirstMalformedSetting) {
    auto values = Settings(100, "", "", "#9#", "bad", "bad", "bad");
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorText(), "ПрефиксДрайвера2: Неверный формат строки данных");
}

TEST_F(DriverOpen, AcceptsADeviceWithoutAnyPrefixOrSuffix) {
    Open(Settings(100, "", "", "", "", "", ""));
    EXPECT_EQ(Driver.Devices().Count(), 1);
}

TEST_F(DriverOpen, RefusesCharacterFramingThatCannotFrameACardNamingTheParameter) {
    auto settings = [](auto&& Change) {
        TCharacterSettings framed;
        framed.Frame = {{{{"%", "?", true}, {";", "?", true}, {";", "?", false}}}, "\r"};
        Change(framed);
        return framed;
    };
    std::wstring id;
    EXPECT_FALSE(Driver.Open(settings([](auto& S) { S.Frame.Tracks[0].Prefix = "\x16"; }), id));
    EXPECT_EQ(Driver.LastErrorCode(), 6);
    EXPECT_EQ(Driver.LastErrorText(), "Параметр \"Track1Prefix\": " + UntypableCharacterText(0x16));
    EXPECT_FALSE(Driver.Open(settings([](auto& S) { S.Frame.CardSuffix = "\xC0"; }), id));
    EXPECT_EQ(Driver.LastErrorText(), "Параметр \"CardSuffix\": " + UntypableCharacterText(0xC0));
    EXPECT_FALSE(Driver.Open(settings([](auto& S) { S.Frame.Tracks[1].Suffix.clear(); }), id));
    EXPECT_EQ(Driver.LastErrorText().rfind("Параметр \"Track2Suffix\": не задан", 0), 0u);
    EXPECT_FALSE(Driver.Open(settings([](auto& S) { S.Sensitivity = -1; }), id));
    EXPECT_EQ(Driver.LastErrorText().rfind("Параметр \"Sensitivity\"", 0), 0u);
    const auto noTrack =
        settings([](auto& S) { S.Frame.Tracks[0].Read = S.Frame.Tracks[1].Read = false; });
    EXPECT_FALSE(Driver.Open(noTrack, id));
    EXPECT_EQ(Driver.LastErrorText(), SNoCardFraming);
    EXPECT_EQ(Driver.Devices().Count(), 0);
    EXPECT_FALSE(Driver.KeyboardHook().Active());

    // The device test checks them before it shows its dialog.
    std::wstring description;
    EXPECT_FALSE(Driver.DeviceTest(noTrack, description));
    EXPECT_EQ(description, TKBDUtils::ToWide(SNoCardFraming));
    EXPECT_EQ(Dialog.Shown, 0);
    // A track not read needs no suffix.
    EXPECT_TRUE(Driver.DeviceTest(settings([](auto& S) { S.Frame.Tracks[2].Suffix.clear(); }),
                                  description));
    EXPECT_EQ(Dialog.Shown, 1);
}

TEST_F(DriverOpen, PointsTheLogFileNextToTheModuleAndSwitchesItByTheSetting) {
    OpenBenchDevice();
    EXPECT_EQ(LogFile().FileName(), Folder.File("Wedgecard.log"));
    EXPECT_TRUE(LogFile().Enabled());
    Open(Settings(100, "", "", "", "", "", "", false));
    EXPECT_FALSE(LogFile().Enabled());
    const std::string before = LogText();
    Driver.Logger().Debug("not written");
    EXPECT_EQ(LogText(), before);
}

TEST_F(DriverOpen, LeavesEverythingButTheLogSettingsWhenTheHookCannotBeInstalled) {
    Thread.FailNextHookInstall = true;
    auto values = Settings(300, "#9", "#13", "", "", "", "");
    std::wstring id;
    EXPECT_FALSE(Driver.Open(values, id));
    EXPECT_EQ(Driver.LastErrorCode(), 255);
    EXPECT_EQ(Driver.LastErrorText(), "Не удалось установить hook Access denied.");
    EXPECT_EQ(Driver.Devices().Count(), 0);
    EXPECT_FALSE(Driver.KeyboardHook().Active());
    EXPECT_EQ(Driver.KeyboardHook().Sensitivity(), 100);
    EXPECT_TRUE(LogFile().Enabled());
    EXPECT_EQ(Thread.InstalledHooks(), 0);
}

TEST_F(DriverOpen, LetsAGuidFailureLeaveTheCallWithoutLeavingADevice) {
    Guids.Fail = true;
    auto values = Settings(100, "", "", "", "", "", "");
    std::wstring id;
    EXPECT_THROW(Driver.Open(values, id), std::runtime_error);
    EXPECT_EQ(Driver.Devices().Count(), 0);
}

TEST_F(DriverOpen, SucceedingCallClearsTheEarlierError) {
    std::wstring id;
    auto bad = Settings(-1, "", "", "", "", "", "");
    EXPECT_FALSE(Driver.Open(bad, id));
    OpenBenchDevice();
    EXPECT_EQ(Driver.LastErrorCode(), 0);
    EXPECT_EQ(Driver.LastErrorText(), "Ошибок нет");
}

TEST_F(DriverClose, RejectsIdentifiersThatNameNoOpenDevice) {
    const std::string id = OpenBenchDevice();
    std::string lower = id;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const std::string& wrong : {std::string("00000000-0000-0000-0000-000000000000"), lower,
                                     "{" + id + "}", std::string()}) {
        EXPECT_FALSE(Driver.Close(Wide(wrong))) << wrong;
        EXPECT_EQ(Driver.LastErrorCode(), 1);
        EXPECT_EQ(Driver.LastErrorText(), "Неверный идентификатор устройства");
        EXPECT_EQ(Driver.LastErrorText(), "Неверный идентификатор устройства");  // read twice
    }
    EXPECT_TRUE(Driver.Close(Wide(id)));
    EXPECT_FALSE(Driver.Close(Wide(id)));
    EXPECT_EQ(Driver.LastErrorCode(), 1);
}

TEST_F(DriverClose, SwitchesTheCaptureOffWithTheLastDeviceOnly) {
    const std::string first = OpenBenchDevice();
    const std::string second = OpenBenchDevice();
    EXPECT_TRUE(Driver.Close(Wide(first)));
    EXPECT_TRUE(Driver.KeyboardHook().Active());
    EXPECT_TRUE(Driver.Close(Wide(second)));
    EXPECT_FALSE(Driver.KeyboardHook().Active());
    EXPECT_EQ(Thread.InstalledHooks(), 0);
}

TEST_F(DriverClose, ReportsAHookThatWillNotComeOffButForgetsTheDevice) {
    const std::string id = OpenBenchDevice();
    Thread.FailNextUnhook = true;
    EXPECT_FALSE(Driver.Close(Wide(id)));
    EXPECT_EQ(Driver.LastErrorCode(), 255);
    EXPECT_EQ(Driver.LastErrorText(), "Не удалось снять hook Invalid hook handle.");
    EXPECT_EQ(Driver.Devices().Count(), 0);
}

TEST_F(DriverClose, TreatsIdentifiersWithCharactersOutsideTheCodePageAsUnknown) {
    const std::string id = OpenBenchDevice();
    // The same identifier in full-width letters and digits must not name the device.
    std::wstring lookalike;
    for (const char c : id) {
        lookalike += c == '-' ? L'-' : static_cast<wchar_t>(0xFF00 + (c - 0x20));
    }
    EXPECT_FALSE(Driver.Close(lookalike));
    EXPECT_EQ(Driver.LastErrorCode(), 1);
    EXPECT_FALSE(Driver.Close(std::wstring(L"\x4E2D\x6587") + std::wstring(34, L'0')));
    EXPECT_EQ(Driver.LastErrorCode(), 1);
    EXPECT_FALSE(Driver.Close(std::wstring(L"A\0B", 3)));
    EXPECT_EQ(Driver.Devices().Count(), 1);
}

TEST_F(DriverDeviceTest, SuspendsAnActiveCaptureWhileTheDialogIsOpen) {
    OpenBenchDevice();
    bool activeWhileOpen = true;
    Dialog.WhileOpen = [this, &activeWhileOpen] {
        activeWhileOpen = Driver.KeyboardHook().Active();
    };
    std::wstring description;
    EXPECT_TRUE(Driver.DeviceTest(description));
    EXPECT_EQ(Dialog.Shown, 1);
    EXPECT_FALSE(activeWhileOpen);
    EXPECT_TRUE(Driver.KeyboardHook().Active());
    EXPECT_EQ(description, TKBDUtils::ToWide("Ошибок нет"));
}

TEST_F(DriverDeviceTest, LeavesAnInactiveCaptureInactive) {
    std::wstring description;
    EXPECT_TRUE(Driver.DeviceTest(description));
    EXPECT_FALSE(Driver.KeyboardHook().Active());
}

TEST_F(DriverDeviceTest, ReportsADialogFailureAndStillRestoresTheCapture) {
    OpenBenchDevice();
    Dialog.Fail = true;
    std::wstring description;
    EXPECT_FALSE(Driver.DeviceTest(description));
    EXPECT_EQ(Driver.LastErrorCode(), 255);
    EXPECT_EQ(description, TKBDUtils::ToWide("The dialog could not be shown."));
    EXPECT_TRUE(Driver.KeyboardHook().Active());
}

TEST_F(DriverVersion, ReportsTheModuleVersionAndClearsAnEarlierError) {
    EXPECT_FALSE(Driver.Close(L"nothing"));
    std::wstring version;
    Driver.GetVersion(version);
    EXPECT_EQ(version, L"1.0.0.8");
    EXPECT_EQ(Driver.LastErrorCode(), 0);
    EXPECT_EQ(Driver.LastErrorText(), "Ошибок нет");
}

TEST_F(DriverVersion, LeavesTheVersionEmptyWhenItCannotBeRead) {
    Module.FailVersion = true;
    std::wstring version;
    Driver.GetVersion(version);
    EXPECT_EQ(version, L"");
    EXPECT_EQ(Driver.LastErrorCode(), 255);
    EXPECT_EQ(Driver.LastErrorText(), "No version resource.");
}

TEST_F(DriverErrors, DestroyingTheDriverRemovesItsHookAndHandsBackHeldKeysButNoCard) {
    {
        TFakeGuids guids;
        TKBDDriver driver(TDriverServices{Thread, guids, Module, Dialog});
        auto values = Settings(100, "#9", "#13", "", "", "", "");
        std::wstring id;
        ASSERT_TRUE(driver.Open(values, id));
        Thread.Type("hi");
        Thread.Tap(9);
        Thread.Type("1234");
        Thread.Tap(13);
        Thread.Type("z");
        Thread.Advance(50);
    }
    Thread.Advance(200);
    EXPECT_EQ(Thread.InstalledHooks(), 0);
    EXPECT_EQ(Chars(), "hiz");
}

TEST(LogFileName, ReplacesTheModuleExtension) {
    EXPECT_EQ(LogFileNameFor("C:\\Drivers\\Wedgecard.dll"), "C:\\Drivers\\Wedgecard.log");
    EXPECT_EQ(LogFileNameFor("C:\\Dri.vers\\Wedgecard"), "C:\\Dri.vers\\Wedgecard.log");
    EXPECT_EQ(LogFileNameFor("/opt/x/Wedgecard.so"), "/opt/x/Wedgecard.log");
    EXPECT_EQ(LogFileNameFor(""), "");
}

}  // namespace
}  // namespace wedgecard::test
