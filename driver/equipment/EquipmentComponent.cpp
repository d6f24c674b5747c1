#include "driver/equipment/EquipmentComponent.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "driver/capture/CharacterCards.h"
#include "driver/core/untError.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/LogFile.h"
#include "driver/diagnostics/ModuleInfo.h"
#include "driver/diagnostics/untLogger.h"
#include "driver/equipment/XmlText.h"
#include "driver/host/ComSupport.h"
#include "driver/native/NativeValues.h"

namespace wedgecard {

namespace {

using native::TNativeVariant;

enum TMethod : std::int32_t {
    mGetInterfaceRevision,
    mGetDescription,
    mGetParameters,
    mSetParameter,
    mOpen,
    mClose,
    mDeviceTest,
    mGetAdditionalActions,
    mDoAdditionalAction,
    mGetLastError,
    MethodCount
};

constexpr std::array<TNativeMethod, MethodCount> Methods = {{
    {L"GetInterfaceRevision", L"ПолучитьРевизиюИнтерфейса", 0, false, false},
    {L"GetDescription", L"ПолучитьОписание", 1, true, false},
    {L"GetParameters", L"ПолучитьПараметры", 1, true, false},
    {L"SetParameter", L"УстановитьПараметр", 2, false, false},
    {L"Open", L"Подключить", 1, true, false},
    {L"Close", L"Отключить", 1, false, false},
    {L"DeviceTest", L"ТестУстройства", 2, true, false},
    {L"GetAdditionalActions", L"ПолучитьДополнительныеДействия", 1, true, false},
    {L"DoAdditionalAction", L"ВыполнитьДополнительноеДействие", 1, false, false},
    {L"GetLastError", L"ПолучитьОшибку", 1, true, false},
}};

// The library's requirements revision 3.4, as major * 1000 + minor. From 4.0 on it would expect
// the localisation methods, which this driver, with texts in one language, does not have.
constexpr std::int32_t InterfaceRevision = 3004;

constexpr std::wstring_view DriverName =
    L"Wedgecard: считыватель магнитных карт (эмуляция клавиатуры)";
constexpr std::wstring_view EquipmentType = L"СчитывательМагнитныхКарт";

constexpr std::wstring_view SensitivityName = L"Sensitivity";
constexpr std::wstring_view LogEnabledName = L"LogEnabled";
constexpr std::wstring_view PrefixName = L"Prefix";
constexpr std::wstring_view SuffixName = L"Suffix";

std::wstring Decimal(std::int32_t Value) {
    return std::to_wstring(Value);
}

std::wstring LogPath() {
    return TKBDUtils::ToWide(LogFileNameFor(GetModulePath()));
}

std::wstring Ascii(const std::string& Text) {
    return std::wstring(Text.begin(), Text.end());
}

// "«%» (код 37, Shift+5)", "Enter (код 13)".
std::wstring DescribeCharacter(char Character) {
    const std::wstring code = L"код " + Decimal(Character);
    const std::string typing = DescribeTyping(Character);
    if (typing.size() > 1 && typing.rfind("Shift+", 0) != 0) {
        return Ascii(typing) + L" (" + code + L")";
    }
    std::wstring text = L"«" + std::wstring(1, static_cast<wchar_t>(Character)) + L"» (" + code;
    if (typing.size() > 1) {
        text += L", " + Ascii(typing);
    }
    return text + L")";
}

void RaiseInvalid(const std::string& Text) {
    RaiseKBDError(kbd_error::InvalidParameter, Text);
}

}  // namespace

// Unlike the other class, it leaves the log alone until Подключить switches it by LogEnabled,
// which is off by default: an administrator who has not asked for a log gets none.
TEquipmentComponent::TEquipmentComponent()
    : TNativeObject(EquipmentClassName, Methods, "TEquipmentComponent",
                    TEventDelivery::Unacknowledged) {}

std::wstring TEquipmentComponent::DescriptionXml() {
    const std::wstring version = TKBDUtils::ToWide(GetFileVersionText());
    const std::wstring logPath = LogPath();
    TXmlText xml;
    xml.Add(L"DriverDescription",
            {{L"Name", DriverName},
             {L"Description",
              L"Считыватели магнитных карт, подключённые как клавиатура. Драйвер перехватывает "
              L"нажатия клавиш в окне программы, находит карту между символами её начала и конца "
              L"и передаёт её конфигурации; остальной ввод с клавиатуры проходит как обычно."},
             {L"EquipmentType", EquipmentType},
             {L"IntegrationComponent", XmlBoolean(true)},
             {L"MainDriverInstalled", XmlBoolean(true)},
             {L"DriverVersion", version},
             {L"IntegrationComponentVersion", version},
             {L"DownloadURL", L""},
             {L"LogIsEnabled", XmlBoolean(LogFile().Enabled())},
             {L"LogPath", logPath},
             {L"LocalizationSupported", XmlBoolean(false)},
             {L"IsEmulator", XmlBoolean(false)}});
    return xml.Text();
}

std::wstring TEquipmentComponent::ParametersXml() {
    const std::wstring logDescription =
        L"Журнал вызовов драйвера в файле " + LogPath() + L" (дописывается, не очищается).";
    TXmlText xml;
    xml.Open(L"Settings")
        .Open(L"Page", {{L"Caption", L"Параметры"}})
        .Open(L"Group", {{L"Caption", L"Считыватель"}})
        .Add(L"Parameter",
             {{L"Name", SensitivityName},
              {L"Caption", L"Чувствительность, мс"},
              {L"TypeValue", L"Number"},
              {L"DefaultValue", L"100"},
              {L"Description",
               L"Пауза между нажатиями, после которой считыватель закончил ввод карты. Если "
               L"карта приходит по частям, увеличьте её."},
              {L"ReadOnly", XmlBoolean(false)}})
        .Add(L"Parameter", {{L"Name", LogEnabledName},
                            {L"Caption", L"Вести журнал"},
                            {L"TypeValue", L"Boolean"},
                            {L"DefaultValue", XmlBoolean(false)},
                            {L"Description", logDescription},
                            {L"ReadOnly", XmlBoolean(false)}});
    return xml.Text();
}

std::wstring TEquipmentComponent::ActionsXml() {
    TXmlText xml;
    xml.Open(L"Actions");
    return xml.Text();
}

std::wstring TEquipmentComponent::SettingsMeaning() const {
    const std::wstring pause = Decimal(FSettings.Sensitivity) + L" мс";
    std::wstring text;
    if (FSettings.Prefix == -1) {
        text +=
            L"Префикс не задан: карта начинается с первого нажатия, и пока устройство "
            L"подключено, весь ввод с клавиатуры ждёт паузы в " +
            pause + L". ";
    } else {
        text += L"Карта начинается с символа " +
                DescribeCharacter(static_cast<char>(FSettings.Prefix)) + L". ";
    }
    if (FSettings.Suffix == -1) {
        text += L"Суффикс не задан: карта продолжается до паузы. ";
    } else {
        text += L"Карта заканчивается последним символом " +
                DescribeCharacter(static_cast<char>(FSettings.Suffix)) + L" перед паузой. ";
    }
    text += L"Пауза, после которой ввод карты закончен: " + pause + L". ";
    text += FSettings.LogEnabled ? L"Журнал: " + LogPath() + L"." : L"Журнал не ведётся.";
    return text;
}

std::string TEquipmentComponent::SettingsText() const {
    return "Sensitivity:" + std::to_string(FSettings.Sensitivity) +
           ", LogEnabled:" + (FSettings.LogEnabled ? "True" : "False") +
           ", Prefix:" + std::to_string(FSettings.Prefix) +
           ", Suffix:" + std::to_string(FSettings.Suffix);
}

void TEquipmentComponent::CheckParameters() const {
    if (!FInvalid.empty()) {
        RaiseInvalid(FInvalid.front().second);
    }
}

bool TEquipmentComponent::SetParameter(const std::wstring& Name, const TNativeVariant& Value) {
    return Driver().Perform([&] {
        std::wstring_view known;
        std::string invalid;
        if (SameName(Name, SensitivityName)) {
            known = SensitivityName;
            std::int32_t sensitivity = 0;
            if (SUCCEEDED(ReadInteger(Value, sensitivity))) {
                FSettings.Sensitivity = sensitivity;
            } else {
                invalid = SInvalidSensitivity;
            }
        } else if (SameName(Name, LogEnabledName)) {
            known = LogEnabledName;
            if (FAILED(ReadBoolean(Value, FSettings.LogEnabled))) {
                invalid = InvalidParameterText("LogEnabled");
            }
        } else if (SameName(Name, PrefixName) || SameName(Name, SuffixName)) {
            const bool prefix = SameName(Name, PrefixName);
            known = prefix ? PrefixName : SuffixName;
            // A character code, a whole number: 37.5 names no character, and rounding it would
            // frame the cards by one nobody chose.
            double code = 0;
            if (SUCCEEDED(ReadNumber(Value, code)) && std::isfinite(code) &&
                code == std::floor(code) && code >= std::numeric_limits<std::int32_t>::min() &&
                code <= std::numeric_limits<std::int32_t>::max()) {
                (prefix ? FSettings.Prefix : FSettings.Suffix) = static_cast<std::int32_t>(code);
            } else {
                invalid = InvalidParameterText(prefix ? "Prefix" : "Suffix");
            }
        } else {
            // EquipmentType, and whatever else the library may set: nothing to keep.
            return;
        }
        std::erase_if(FInvalid, [known](const auto& entry) { return entry.first == known; });
        if (!invalid.empty()) {
            FInvalid.emplace_back(known, invalid);
            RaiseInvalid(invalid);
        }
    });
}

bool TEquipmentComponent::Open(std::wstring& DeviceID) {
    if (!FInvalid.empty()) {
        return Driver().Perform([this] { CheckParameters(); });
    }
    return Driver().Open(FSettings, DeviceID);
}

bool TEquipmentComponent::DeviceTest(std::wstring& Description) {
    if (!FInvalid.empty()) {
        Driver().Perform([this] { CheckParameters(); });
        Description = TKBDUtils::ToWide(Driver().LastErrorText());
        return false;
    }
    if (!Driver().DeviceTest(FSettings, Description)) {
        return false;
    }
    Description = SettingsMeaning();
    return true;
}

bool TEquipmentComponent::Invoke(std::int32_t Number, TNativeVariant* Result,
                                 TNativeVariant* Params) {
    // The answer of a method that hands back text in its first parameter.
    auto handBack = [&](bool Succeeded, std::wstring_view Text) {
        if (!ReplaceString(Params[0], Text)) {
            return false;
        }
        if (Result != nullptr) {
            SetBoolean(*Result, Succeeded);
        }
        return true;
    };
    auto answer = [Result](bool Succeeded) {
        if (Result != nullptr) {
            SetBoolean(*Result, Succeeded);
        }
        return true;
    };
    // A text parameter the host got wrong fails the call.
    auto readText = [this](const TNativeVariant& Value, std::wstring& Text) {
        const HRESULT status = ReadText(Value, Text);
        if (FAILED(status)) {
            Refuse(status);
        }
        return SUCCEEDED(status);
    };

    switch (static_cast<TMethod>(Number)) {
        case mGetInterfaceRevision:
            Driver().Perform([] {});
            Logger().Debug("GetInterfaceRevision", InterfaceRevision);
            if (Result != nullptr) {
                SetInteger(*Result, InterfaceRevision);
            }
            return true;
        case mGetDescription:
        case mGetParameters:
        case mGetAdditionalActions: {
            std::wstring xml;
            const bool made = Driver().Perform([&] {
                xml = Number == mGetDescription  ? DescriptionXml()
                      : Number == mGetParameters ? ParametersXml()
                                                 : ActionsXml();
            });
            Logger().Debug(
                TKBDUtils::ToAnsi(std::wstring(Methods[static_cast<std::size_t>(Number)].Name)),
                made);
            return handBack(made, xml);
        }
        case mSetParameter: {
            std::wstring name;
            std::wstring value;
            if (!readText(Params[0], name)) {
                return false;
            }
            const bool set = SetParameter(name, Params[1]);
            if (FAILED(ReadText(Params[1], value))) {
                value = L"?";
            }
            Logger().Debug("SetParameter(Name:" + TKBDUtils::ToAnsi(name) +
                               ", Value:" + TKBDUtils::ToAnsi(value) + ")",
                           set);
            return answer(set);
        }
        case mOpen: {
            Logger().Debug("Open(" + SettingsText() + ")");
            std::wstring id;
            const bool opened = Open(id);
            Logger().Debug("Open(" + SettingsText() + ", DeviceID:" + TKBDUtils::ToAnsi(id) + ")",
                           opened);
            if (!opened) {
                return answer(false);
            }
            if (!ReplaceString(Params[0], id)) {
                // A device the host cannot name would keep the capture on for good.
                Driver().Close(id);
                return false;
            }
            return answer(true);
        }
        case mClose: {
            std::wstring id;
            if (!readText(Params[0], id)) {
                return false;
            }
            const bool closed = Driver().Close(id);
            Logger().Debug("Close(DeviceID:" + TKBDUtils::ToAnsi(id) + ")", closed);
            return answer(closed);
        }
        case mDeviceTest: {
            Logger().Debug("DeviceTest(" + SettingsText() + ")");
            std::wstring description;
            const bool tested = DeviceTest(description);
            Logger().Debug("DeviceTest(" + SettingsText() + ")", tested);
            ReplaceBoolean(Params[1], false);
            return handBack(tested, description);
        }
        case mDoAdditionalAction: {
            std::wstring action;
            if (!readText(Params[0], action)) {
                return false;
            }
            // The library lists no actions: every name is unknown.
            const bool done = Driver().Perform([&action] {
                RaiseKBDError(kbd_error::Other,
                              std::string(SUnknownAction) + ": " + TKBDUtils::ToAnsi(action));
            });
            Logger().Debug("DoAdditionalAction(ActionName:" + TKBDUtils::ToAnsi(action) + ")",
                           done);
            return answer(done);
        }
        case mGetLastError: {
            const std::string& text = Driver().LastErrorText();
            const std::int32_t code = Driver().LastErrorCode();
            Logger().Debug("GetLastError(ErrorDescription:" + text + ")", code);
            if (!ReplaceString(Params[0], TKBDUtils::ToWide(text))) {
                return false;
            }
            if (Result != nullptr) {
                SetInteger(*Result, code);
            }
            return true;
        }
        case MethodCount:
            break;
    }
    return false;
}

}  // namespace wedgecard
