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
    mGetVersionNumber,
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
    {L"GetVersionNumber", L"ПолучитьНомерВерсии", 0, false, true},
}};

// The library's requirements revision 3.4, as major * 1000 + minor. From 4.0 on it would expect
// the localisation methods, which this driver, with texts in one language, does not have.
constexpr std::int32_t InterfaceRevision = 3004;

constexpr std::wstring_view DriverName =
    L"Wedgecard: считыватель магнитных карт (эмуляция клавиатуры)";
constexpr std::wstring_view EquipmentType = L"СчитывательМагнитныхКарт";

enum class TValueKind { Number, Boolean, String };

struct TParameter {
    std::wstring_view Name;
    TValueKind Kind;
    std::wstring_view Default;
    std::wstring_view Group;
    std::wstring_view Caption;
    std::wstring_view Description;
};

constexpr std::wstring_view ReaderGroup = L"Считыватель";
constexpr std::wstring_view TracksGroup = L"Дорожки";
constexpr std::wstring_view LogGroup = L"Журнал";

constexpr std::wstring_view CharactersNote =
    L" Символы вводятся как есть; символ, которого нельзя ввести в поле, записывается как # и "
    L"его десятичный код (#13 Enter, #9 Tab), а ## означает сам символ #. Символы сравниваются "
    L"так, как их набирает английская раскладка, с учётом Shift.";

using P = TEquipmentComponent;
constexpr std::array<TParameter, P::ParameterCount> Parameters = {{
    {L"Sensitivity", TValueKind::Number, L"100", ReaderGroup, L"Чувствительность, мс",
     L"Пауза между нажатиями, после которой считыватель закончил ввод карты (целое число "
     L"миллисекунд). Если карта приходит по частям, увеличьте её."},
    {L"CardSuffix", TValueKind::String, L"#13", ReaderGroup, L"Символы после карты",
     L"Что считыватель вводит один раз после всей карты (обычно Enter, #13): карта передаётся "
     L"сразу. Пусто, если считыватель ничего не вводит после карты или вводит Enter после каждой "
     L"дорожки (тогда это часть суффикса дорожки, ?#13)."},
    {L"Track1", TValueKind::Boolean, L"true", TracksGroup, L"Дорожка 1",
     L"Передавать дорожку 1 в конфигурацию."},
    {L"Track1Prefix", TValueKind::String, L"%", TracksGroup, L"Префикс дорожки 1",
     L"Символы, с которых считыватель начинает дорожку 1."},
    {L"Track1Suffix", TValueKind::String, L"?", TracksGroup, L"Суффикс дорожки 1",
     L"Символы, которыми считыватель заканчивает дорожку 1."},
    {L"Track2", TValueKind::Boolean, L"true", TracksGroup, L"Дорожка 2",
     L"Передавать дорожку 2 в конфигурацию."},
    {L"Track2Prefix", TValueKind::String, L";", TracksGroup, L"Префикс дорожки 2",
     L"Символы, с которых считыватель начинает дорожку 2."},
    {L"Track2Suffix", TValueKind::String, L"?", TracksGroup, L"Суффикс дорожки 2",
     L"Символы, которыми считыватель заканчивает дорожку 2."},
    {L"Track3", TValueKind::Boolean, L"false", TracksGroup, L"Дорожка 3",
     L"Передавать дорожку 3 в конфигурацию."},
    {L"Track3Prefix", TValueKind::String, L";", TracksGroup, L"Префикс дорожки 3",
     L"Символы, с которых считыватель начинает дорожку 3."},
    {L"Track3Suffix", TValueKind::String, L"?", TracksGroup, L"Суффикс дорожки 3",
     L"Символы, которыми считыватель заканчивает дорожку 3."},
    {L"LogEnabled", TValueKind::Boolean, L"false", LogGroup, L"Вести журнал", L""},
}};

std::string Narrow(std::wstring_view Name) {
    return std::string(Name.begin(), Name.end());
}

[[noreturn]] void RaiseInvalid(std::size_t Parameter, const std::string& What) {
    RaiseKBDError(kbd_error::InvalidParameter,
                  ParameterErrorText(Narrow(Parameters[Parameter].Name), What));
}

// The form's characters: "#" and a decimal code for one a field cannot hold, "##" for "#".
std::string DecodeCharacters(std::size_t Parameter, std::wstring_view Text) {
    std::string characters;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        std::int32_t code = Text[i];
        if (code == '#') {
            if (i + 1 < Text.size() && Text[i + 1] == '#') {
                ++i;
            } else {
                code = 0;
                bool digits = false;
                for (; i + 1 < Text.size() && Text[i + 1] >= '0' && Text[i + 1] <= '9'; ++i) {
                    // Far above any character: stop growing before it could overflow.
                    code = std::min(code * 10 + (Text[i + 1] - '0'), 0x110000);
                    digits = true;
                }
                if (!digits) {
                    RaiseInvalid(Parameter,
                                 "после «#» нет десятичного кода символа (## — сам символ #)");
                }
            }
        }
        if (!IsTypable(code)) {
            RaiseInvalid(Parameter, UntypableCharacterText(code));
        }
        characters += static_cast<char>(code);
    }
    return characters;
}

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

// Each character described, in the order typed.
std::wstring DescribeCharacters(const std::string& Characters) {
    std::wstring text;
    for (const char c : Characters) {
        text += (text.empty() ? L"" : L", затем ") + DescribeCharacter(c);
    }
    return text;
}

}  // namespace

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
             // True with no DownloadURL makes the library's "install" button ask for the
             // Internet and open nothing: the add-in is all there is to install.
             {L"IntegrationComponent", XmlBoolean(false)},
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

// Unlike the other class, it leaves the log alone until Подключить switches it by LogEnabled,
// which is off by default: an administrator who has not asked for a log gets none.
TEquipmentComponent::TEquipmentComponent()
    : TNativeObject(EquipmentClassName, Methods, "TEquipmentComponent",
                    TEventDelivery::Unacknowledged) {
    for (std::size_t p = 0; p < ParameterCount; ++p) {
        const TParameter& parameter = Parameters[p];
        TValue& value = FValues[p];
        switch (parameter.Kind) {
            case TValueKind::Number:
                value.Number = std::stod(std::wstring(parameter.Default));
                break;
            case TValueKind::Boolean:
                value.Boolean = parameter.Default == XmlBoolean(true);
                break;
            case TValueKind::String:
                value.Text = parameter.Default;
                break;
        }
    }
}

std::wstring TEquipmentComponent::ParametersXml() {
    const std::wstring logDescription = L"Журнал вызовов драйвера в файле " + LogPath() +
                                        L" (дописывается, не очищается; данных карт не содержит).";
    TXmlText xml;
    xml.Open(L"Settings").Open(L"Page", {{L"Caption", L"Параметры"}});
    std::wstring_view group;
    for (const TParameter& parameter : Parameters) {
        if (parameter.Group != group) {
            if (!group.empty()) {
                xml.Close();
            }
            group = parameter.Group;
            xml.Open(L"Group", {{L"Caption", group}});
        }
        const std::wstring description =
            parameter.Name == L"LogEnabled" ? logDescription
            : parameter.Kind == TValueKind::String
                ? std::wstring(parameter.Description) + std::wstring(CharactersNote)
                : std::wstring(parameter.Description);
        xml.Add(L"Parameter", {{L"Name", parameter.Name},
                               {L"Caption", parameter.Caption},
                               {L"TypeValue", parameter.Kind == TValueKind::Number    ? L"Number"
                                              : parameter.Kind == TValueKind::Boolean ? L"Boolean"
                                                                                      : L"String"},
                               {L"DefaultValue", parameter.Default},
                               {L"Description", description},
                               {L"ReadOnly", XmlBoolean(false)}});
    }
    return xml.Text();
}

std::wstring TEquipmentComponent::ActionsXml() {
    TXmlText xml;
    xml.Open(L"Actions");
    return xml.Text();
}

TCharacterSettings TEquipmentComponent::Settings() const {
    if (!FInvalid.empty()) {
        RaiseKBDError(kbd_error::InvalidParameter, FInvalid.front().second);
    }
    // A whole number of milliseconds: 100.5 is no quiet time the capture can wait, and rounding
    // it would wait one nobody chose.
    const double sensitivity = FValues[pSensitivity].Number;
    if (!std::isfinite(sensitivity) || sensitivity != std::floor(sensitivity) ||
        sensitivity < std::numeric_limits<std::int32_t>::min() ||
        sensitivity > std::numeric_limits<std::int32_t>::max()) {
        RaiseInvalid(pSensitivity, "пауза задаётся целым числом миллисекунд");
    }
    TCharacterSettings settings;
    settings.Sensitivity = static_cast<std::int32_t>(sensitivity);
    settings.LogEnabled = FValues[pLogEnabled].Boolean;
    for (std::size_t t = 0; t < settings.Frame.Tracks.size(); ++t) {
        const std::size_t read = pTrack1 + 3 * t;
        TCharacterTrack& track = settings.Frame.Tracks[t];
        track.Read = FValues[read].Boolean;
        track.Prefix = DecodeCharacters(read + 1, FValues[read + 1].Text);
        track.Suffix = DecodeCharacters(read + 2, FValues[read + 2].Text);
    }
    settings.Frame.CardSuffix = DecodeCharacters(pCardSuffix, FValues[pCardSuffix].Text);
    return settings;
}

std::wstring TEquipmentComponent::SettingsMeaning(const TCharacterSettings& Settings) {
    const std::wstring pause = Decimal(Settings.Sensitivity) + L" мс";
    const TCharacterFrame& frame = Settings.Frame;
    std::wstring text;
    for (std::size_t t = 0; t < frame.Tracks.size(); ++t) {
        const TCharacterTrack& track = frame.Tracks[t];
        const std::wstring framing =
            L"от " +
            (track.Prefix.empty() ? std::wstring(L"места, где закончилась предыдущая")
                                  : DescribeCharacters(track.Prefix)) +
            L" до " + DescribeCharacters(track.Suffix);
        text += L"Дорожка " + Decimal(static_cast<std::int32_t>(t + 1));
        if (track.Read) {
            text += L" передаётся, " + framing + L". ";
        } else if (track.Searched()) {
            text +=
                L" не передаётся, но распознаётся (" + framing + L"), чтобы не попасть в форму. ";
        } else {
            text += L" не передаётся и не распознаётся. ";
        }
    }
    if (frame.CardSuffix.empty()) {
        text +=
            L"Символы после карты не заданы: карта передаётся, как только найдены все "
            L"распознаваемые дорожки, а если какой-то нет, после паузы " +
            pause + L". ";
    } else {
        text += L"После карты считыватель вводит " + DescribeCharacters(frame.CardSuffix) +
                L": карта передаётся сразу, а без них после паузы " + pause + L". ";
    }
    text += Settings.LogEnabled ? L"Журнал: " + LogPath() + L"." : L"Журнал не ведётся.";
    return text;
}

std::string TEquipmentComponent::SettingsText() const {
    std::string text;
    for (std::size_t p = 0; p < ParameterCount; ++p) {
        const TValue& value = FValues[p];
        text += (p == 0 ? "" : ", ") + Narrow(Parameters[p].Name) + ":";
        switch (Parameters[p].Kind) {
            case TValueKind::Number:
                // 100, not 100.000000; a fraction as it came.
                text += std::abs(value.Number) < 1e15 && value.Number == std::floor(value.Number)
                            ? std::to_string(static_cast<std::int64_t>(value.Number))
                            : std::to_string(value.Number);
                break;
            case TValueKind::Boolean:
                text += value.Boolean ? "True" : "False";
                break;
            case TValueKind::String:
                text += TKBDUtils::ToAnsi(value.Text);
                break;
        }
    }
    return text;
}

bool TEquipmentComponent::SetParameter(const std::wstring& Name, const TNativeVariant& Value) {
    return Driver().Perform([&] {
        const auto* parameter =
            std::find_if(Parameters.begin(), Parameters.end(),
                         [&Name](const TParameter& Known) { return SameName(Name, Known.Name); });
        if (parameter == Parameters.end()) {
            // EquipmentType, and whatever else the library may set: nothing to keep.
            return;
        }
        const auto index = static_cast<std::size_t>(parameter - Parameters.begin());
        std::erase_if(FInvalid, [index](const auto& entry) { return entry.first == index; });
        TValue& value = FValues[index];
        bool typed = false;
        switch (parameter->Kind) {
            case TValueKind::Number:
                // Whatever numeric type the host chose; a text that holds a number is not one.
                typed = (Value.Type == native::vtR8 || Value.Type == native::vtR4 ||
                         (Value.Type >= native::vtI1 && Value.Type <= native::vtUInt) ||
                         Value.Type == native::vtI2 || Value.Type == native::vtI4) &&
                        SUCCEEDED(ReadNumber(Value, value.Number));
                break;
            case TValueKind::Boolean:
                typed =
                    Value.Type == native::vtBool && SUCCEEDED(ReadBoolean(Value, value.Boolean));
                break;
            case TValueKind::String:
                typed = (Value.Type == native::vtPWStr || Value.Type == native::vtPStr) &&
                        SUCCEEDED(ReadText(Value, value.Text));
                break;
        }
        if (!typed) {
            const std::string invalid = InvalidParameterText(Narrow(parameter->Name));
            FInvalid.emplace_back(index, invalid);
            RaiseKBDError(kbd_error::InvalidParameter, invalid);
        }
    });
}

bool TEquipmentComponent::Open(std::wstring& DeviceID) {
    TCharacterSettings settings;
    if (!Driver().Perform([&] { settings = Settings(); })) {
        return false;
    }
    return Driver().Open(settings, DeviceID);
}

bool TEquipmentComponent::DeviceTest(std::wstring& Description) {
    TCharacterSettings settings;
    if (!Driver().Perform([&] { settings = Settings(); }) ||
        !Driver().DeviceTest(settings, Description)) {
        Description = TKBDUtils::ToWide(Driver().LastErrorText());
        return false;
    }
    Description = SettingsMeaning(settings);
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
            // The demo-mode flag: the library shows its demo panel for anything not blank, and
            // False would read as "Нет".
            if (!ReplaceString(Params[1], L"")) {
                return false;
            }
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
        case mGetVersionNumber: {
            std::wstring version;
            Driver().GetVersion(version);
            Logger().Debug("GetVersionNumber(" + TKBDUtils::ToAnsi(version) + ")");
            return Result == nullptr || SetString(*Result, version);
        }
        case MethodCount:
            break;
    }
    return false;
}

}  // namespace wedgecard
