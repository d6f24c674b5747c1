#include "driver/core/KBDDriver.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "driver/core/CardFrame.h"
#include "driver/capture/KeyboardHook.h"
#include "driver/capture/KeysLogText.h"
#include "driver/core/DeviceManager.h"
#include "driver/core/EventLogText.h"
#include "driver/core/EventManager.h"
#include "driver/core/untError.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/LogFile.h"
#include "driver/diagnostics/untLogger.h"

namespace wedgecard {

namespace {

// The settings' names as the host knows them, in the order of the settings array (1 to 6).
constexpr std::array<const char*, 6> CodeSettingNames = {"ПрефиксДрайвера1", "СуффиксДрайвера1",
                                                         "ПрефиксДрайвера2", "СуффиксДрайвера2",
                                                         "ПрефиксДрайвера3", "СуффиксДрайвера3"};

struct TSettings {
    std::int32_t Sensitivity = 0;
    std::array<std::string, 6> Codes;
    bool LogEnabled = false;
};

TSettings ReadSettings(IValuesArray& ValuesArray) {
    try {
        TSettings settings;
        settings.Sensitivity = ValuesArray.GetInteger(0);
        for (std::size_t i = 0; i < settings.Codes.size(); ++i) {
            settings.Codes[i] = ValuesArray.GetText(static_cast<std::int32_t>(i + 1));
        }
        settings.LogEnabled = ValuesArray.GetBoolean(7);
        return settings;
    } catch (const std::exception& error) {
        RaiseKBDError(kbd_error::ValuesArrayRead,
                      std::string(SValuesArrayRead) + ": " + error.what());
    }
}

std::string FormatError(std::int32_t Code, const std::string& Text) {
    return "(" + std::to_string(Code) + ") " + Text;
}

}  // namespace

std::string DecodeKeyCodes(const std::string& Text, const std::string& ParamName) {
    std::optional<std::string> codes = ParseKeyCodes(Text);
    if (!codes) {
        RaiseKBDError(kbd_error::InvalidParameter, ParamName + SInvalidDataFormat);
    }
    return *std::move(codes);
}

std::string LogFileNameFor(const std::string& ModulePath) {
    if (ModulePath.empty()) {
        return {};
    }
    const std::size_t folderEnd = ModulePath.find_last_of("\\/:");
    const std::size_t dot = ModulePath.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (folderEnd == std::string::npos || dot > folderEnd);
    return (hasExtension ? ModulePath.substr(0, dot) : ModulePath) + ".log";
}

TKBDDriver::TKBDDriver(const TDriverServices& Services, TEventDelivery Delivery)
    : FServices(Services), FDelivery(Delivery) {
    ClearError();
}

TKBDDriver::~TKBDDriver() {
    FEvents.reset();
    if (FKeyboardHook) {
        // A card being swiped as the driver goes must not be typed into the host's window: the
        // burst held is examined now, and its cards' keys are dropped without events (nobody is
        // left to take them); the other keys go back.
        FKeyboardHook->OnKeyboardData = [this](const TKeys& Keys, TKeyRanges& Consumed) {
            for (const TCardRead& card : FindCards(Keys)) {
                Consumed.push_back(card.Keys);
            }
            return !Consumed.empty();
        };
        try {
            FKeyboardHook->EndBurst();
        } catch (...) {
        }
    }
    FDevices.reset();
    FKeyboardHook.reset();
    FLogger.reset();
}

TLogger& TKBDDriver::Logger() {
    if (!FLogger) {
        FLogger = std::make_unique<TLogger>("TKBDDriver");
    }
    return *FLogger;
}

TEventManager& TKBDDriver::Events() {
    if (!FEvents) {
        FEvents = std::make_unique<TEventManager>();
    }
    return *FEvents;
}

TDeviceManager& TKBDDriver::Devices() {
    if (!FDevices) {
        FDevices = std::make_unique<TDeviceManager>(FServices.Guids);
    }
    return *FDevices;
}

TKeyboardHook& TKBDDriver::KeyboardHook() {
    if (!FKeyboardHook) {
        FKeyboardHook = std::make_unique<TKeyboardHook>(FServices.Capture);
        FKeyboardHook->OnKeyboardData = [this](const TKeys& Keys, TKeyRanges& Consumed) {
            return ReceiveKeyboardData(Keys, Consumed);
        };
        FKeyboardHook->OnCardState = [this](const TKeys& Keys) { return CardState(Keys); };
    }
    return *FKeyboardHook;
}

void TKBDDriver::UpdateCardPrefixes() {
    std::optional<std::vector<std::string>> prefixes(std::in_place);
    std::string ends;
    for (int i = 0; i < Devices().Count(); ++i) {
        const TCardFrame& frame = *Devices().Items(i)->Frame;
        if (std::optional<std::vector<std::string>> own = frame.CardPrefixes(); !own) {
            prefixes.reset();
        } else if (prefixes) {
            prefixes->insert(prefixes->end(), own->begin(), own->end());
        }
        ends += frame.CardEnds();
    }
    KeyboardHook().SetCardPrefixes(std::move(prefixes));
    KeyboardHook().SetCardEnds(std::move(ends));
}

bool TKBDDriver::ClearError() noexcept {
    FLastErrorCode = kbd_error::None;
    FLastErrorText = SNoError;
    return true;
}

bool TKBDDriver::HandleError(const std::exception& Error) {
    const auto* driverError = dynamic_cast<const EKBDError*>(&Error);
    FLastErrorCode = driverError != nullptr ? driverError->Code() : kbd_error::Other;
    FLastErrorText = Error.what();
    Logger().Error(FormatError(FLastErrorCode, FLastErrorText));
    return false;
}

bool TKBDDriver::Open(IValuesArray& ValuesArray, std::wstring& DeviceID) {
    bool result = ClearError();
    // A failure to make an identifier is not the driver's to report: it leaves Open.
    T1CDevice* device = Devices().Add();
    try {
        const TSettings settings = ReadSettings(ValuesArray);
        if (settings.Sensitivity < 0) {
            RaiseKBDError(kbd_error::InvalidParameter, SInvalidSensitivity);
        }
        TKeys::TTemplates templates;
        for (std::size_t track = 0; track < templates.size(); ++track) {
            templates[track] = {
                DecodeKeyCodes(settings.Codes[2 * track], CodeSettingNames[2 * track]),
                DecodeKeyCodes(settings.Codes[2 * track + 1], CodeSettingNames[2 * track + 1])};
        }
        device->Frame = std::make_unique<TKeyCodeCardFrame>(std::move(templates));
        Activate(*device, settings.Sensitivity, settings.LogEnabled, DeviceID);
    } catch (const std::exception& error) {
        delete device;
        result = HandleError(error);
    }
    return result;
}

bool TKBDDriver::Open(const TCharacterSettings& Settings, std::wstring& DeviceID) {
    bool result = ClearError();
    T1CDevice* device = Devices().Add();
    try {
        device->Frame = std::make_unique<TCharacterCardFrame>(CharacterFrame(Settings));
        device->KeepsQuietTime = true;
        Activate(*device, Settings.Sensitivity, Settings.LogEnabled, DeviceID);
    } catch (const std::exception& error) {
        delete device;
        result = HandleError(error);
    }
    return result;
}

void TKBDDriver::Activate(T1CDevice& Device, std::int32_t Sensitivity, bool LogEnabled,
                          std::wstring& DeviceID) {
    Device.Sensitivity = Sensitivity;
    DeviceID = TKBDUtils::ToWide(Device.ID());

    LogFile().SetFileName(LogFileNameFor(FServices.Module.GetModulePath()));
    LogFile().SetEnabled(LogEnabled);

    // The quiet time changes only once the hook is in place, so a failed Open leaves the
    // capture exactly as it was.
    KeyboardHook().SetActive(true);
    KeyboardHook().SetSensitivity(Sensitivity);
    UpdateKeptQuietTime();
    UpdateCardPrefixes();
}

void TKBDDriver::UpdateKeptQuietTime() {
    std::optional<std::int32_t> longest;
    for (int i = 0; i < Devices().Count(); ++i) {
        const T1CDevice& device = *Devices().Items(i);
        if (device.KeepsQuietTime) {
            longest = std::max(longest.value_or(0), device.Sensitivity);
        }
    }
    if (longest) {
        KeyboardHook().SetSensitivity(*longest);
    }
}

TCharacterFrame TKBDDriver::CharacterFrame(const TCharacterSettings& Settings) {
    auto refuse = [](const std::string& Name, const std::string& What) {
        RaiseKBDError(kbd_error::InvalidParameter, ParameterErrorText(Name, What));
    };
    if (Settings.Sensitivity < 0) {
        refuse("Sensitivity", "пауза не может быть отрицательной");
    }
    auto checkTypable = [&refuse](const std::string& Characters, const std::string& Name) {
        for (const char c : Characters) {
            const auto code = static_cast<unsigned char>(c);
            if (!IsTypable(code)) {
                refuse(Name, UntypableCharacterText(code));
            }
        }
    };
    const TCharacterFrame& frame = Settings.Frame;
    bool reads = false;
    for (std::size_t t = 0; t < frame.Tracks.size(); ++t) {
        const TCharacterTrack& track = frame.Tracks[t];
        const std::string name = "Track" + std::to_string(t + 1);
        checkTypable(track.Prefix, name + "Prefix");
        checkTypable(track.Suffix, name + "Suffix");
        if (track.Read && track.Suffix.empty()) {
            refuse(name + "Suffix", "не задан, а дорожка " + std::to_string(t + 1) +
                                        " читается: без суффикса не найти её конец");
        }
        reads = reads || track.Read;
    }
    checkTypable(frame.CardSuffix, "CardSuffix");
    if (!reads) {
        RaiseKBDError(kbd_error::InvalidParameter, SNoCardFraming);
    }
    return frame;
}

bool TKBDDriver::Perform(const std::function<void()>& Operation) {
    bool result = ClearError();
    try {
        Operation();
    } catch (const std::exception& error) {
        result = HandleError(error);
    }
    return result;
}

bool TKBDDriver::Close(const std::wstring& DeviceID) {
    bool result = ClearError();
    try {
        T1CDevice* device = Devices().Find(TKBDUtils::ToAnsi(DeviceID));
        if (device == nullptr) {
            RaiseKBDError(kbd_error::InvalidDeviceID, SInvalidDeviceID);
        }
        delete device;
        UpdateKeptQuietTime();
        UpdateCardPrefixes();
        if (Devices().Count() == 0) {
            KeyboardHook().SetActive(false);
        }
    } catch (const std::exception& error) {
        result = HandleError(error);
    }
    return result;
}

bool TKBDDriver::EventProcessed(const std::wstring& /*DeviceID*/, bool StateFlag) {
    bool result = ClearError();
    try {
        T1CEvent* head = Events().Items(0);
        if (!FEventSent || head == nullptr) {
            RaiseKBDError(kbd_error::EventNotSent, SEventNotSent);
        }
        if (StateFlag) {
            FEventSent = false;
            delete head;
            FireNextEvent();
        } else {
            FireEvent(*head);
        }
    } catch (const std::exception& error) {
        result = HandleError(error);
        try {
            AddErrorEvent(error.what());
        } catch (const std::exception& deliveryError) {
            // The error event is queued and outstanding; the host refused to take it now. The
            // operation's own error stays the one reported.
            Logger().Error(FormatError(kbd_error::Other, deliveryError.what()));
        }
    }
    return result;
}

bool TKBDDriver::DeviceTest(std::wstring& AdditionalDescription) {
    return ShowDeviceTest(nullptr, AdditionalDescription);
}

bool TKBDDriver::DeviceTest(const TCharacterSettings& Settings,
                            std::wstring& AdditionalDescription) {
    return ShowDeviceTest(&Settings, AdditionalDescription);
}

bool TKBDDriver::ShowDeviceTest(const TCharacterSettings* Settings,
                                std::wstring& AdditionalDescription) {
    bool result = ClearError();
    AdditionalDescription = TKBDUtils::ToWide(FLastErrorText);
    try {
        if (Settings != nullptr) {
            static_cast<void>(CharacterFrame(*Settings));
        }
        // The dialog captures keys itself; the driver's capture stands aside meanwhile. It is
        // suspended, not switched off: switched off, it would give back the keys it holds
        // (typed into the host just before) while the dialog is up, into the dialog. Suspended,
        // it keeps them and deals with them once the dialog is closed.
        const TKeyboardHook::TSuspension suspended(KeyboardHook());
        FServices.DeviceTestDialog.ShowDeviceTest();
    } catch (const std::exception& error) {
        result = HandleError(error);
        AdditionalDescription = TKBDUtils::ToWide(FLastErrorText);
    }
    return result;
}

void TKBDDriver::GetVersion(std::wstring& Version) {
    ClearError();
    try {
        Version = TKBDUtils::ToWide(FServices.Module.GetFileVersionText());
    } catch (const std::exception& error) {
        HandleError(error);
    }
}

void TKBDDriver::AddDataEvent(const std::string& Source, const std::string& Message,
                              const std::string& Data) {
    Logger().Debug("AddDataEvent(" + Source + "; " + Message + "; " +
                   EventDataLogText(Message, Data) + ")");
    if (FDelivery == TEventDelivery::Unacknowledged) {
        // Kept nowhere: the host takes each event as it comes.
        if (OnEvent) {
            OnEvent(Source, Message, Data);
        }
        return;
    }
    Events().Add(Source, Message, Data);
    FireNextEvent();
}

void TKBDDriver::AddErrorEvent(const std::string& Text) {
    Events().Add("0", EventNames[static_cast<std::size_t>(TEventKind::DriverError)], Text);
    FireNextEvent();
}

void TKBDDriver::FireNextEvent() {
    if (FEventSent) {
        return;
    }
    if (const T1CEvent* head = Events().Items(0)) {
        FireEvent(*head);
    }
}

void TKBDDriver::FireEvent(const T1CEvent& Event) {
    Logger().Debug("FireEvent");
    if (!OnEvent) {
        return;
    }
    // The host may acknowledge from inside the callback, which destroys the event: hand it
    // copies, not references into the queue.
    const std::string source = Event.Source;
    const std::string message = Event.Message;
    const std::string data = Event.Data;
    FEventSent = true;
    OnEvent(source, message, data);
}

TCardState TKBDDriver::CardState(const TKeys& Keys) const {
    TCardState state = TCardState::Settled;
    for (int i = 0; FDevices && i < FDevices->Count() && state != TCardState::Open; ++i) {
        state = JoinCardStates(state, FDevices->Items(i)->Frame->State(Keys));
    }
    return state;
}

std::vector<TKBDDriver::TCardRead> TKBDDriver::FindCards(const TKeys& Keys) {
    // The cards of each device, in the order of the devices' opening.
    std::vector<std::vector<TCardRead>> cards;
    for (int i = 0; FDevices && i < FDevices->Count(); ++i) {
        const T1CDevice& device = *FDevices->Items(i);
        const char* message = EventNames[static_cast<std::size_t>(device.Frame->CardEvent())];
        std::vector<TCardRead>& read = cards.emplace_back();
        for (TFramedCard& card : device.Frame->FindCards(Keys)) {
            read.push_back(TCardRead{device.ID(), card.Keys, std::move(card.Data), message});
        }
    }

    // The cards in the order they were swiped; a card that several devices read goes to them in
    // the order of their opening, whichever of them saw it begin first.
    std::vector<TCardRead> ordered;
    std::vector<std::size_t> next(cards.size(), 0);
    while (true) {
        std::size_t first = cards.size();
        for (std::size_t d = 0; d < cards.size(); ++d) {
            if (next[d] < cards[d].size() &&
                (first == cards.size() ||
                 cards[d][next[d]].Keys.First < cards[first][next[first]].Keys.First)) {
                first = d;
            }
        }
        if (first == cards.size()) {
            break;
        }
        std::size_t chosen = first;
        for (std::size_t d = 0; d < first; ++d) {
            if (next[d] < cards[d].size() &&
                cards[d][next[d]].Keys.First <= cards[first][next[first]].Keys.Last) {
                chosen = d;
                break;
            }
        }
        ordered.push_back(std::move(cards[chosen][next[chosen]++]));
    }
    return ordered;
}

bool TKBDDriver::ReceiveKeyboardData(const TKeys& Keys, TKeyRanges& Consumed) {
    Logger().Debug("ReceiveKeyboardData <-" + KeysLogText(Keys, 0, Keys.Count() - 1));

    // Delivering an event runs the host's handler, which may close devices or open new ones:
    // the cards are those of the devices open when the burst ended, skipping any device
    // closed meanwhile.
    bool found = false;
    std::exception_ptr refused;
    for (const TCardRead& card : FindCards(Keys)) {
        if (Devices().Find(card.DeviceID) == nullptr) {
            continue;
        }
        found = true;
        // Reported before the delivery, which may fail: the capture still knows what the
        // events queued so far consumed.
        Consumed.push_back(card.Keys);
        try {
            AddDataEvent(card.DeviceID, card.Message, card.Data);
        } catch (...) {
            // The host refused the delivery; that event stays queued as the outstanding one.
            // The other cards still get theirs queued behind it: stopping here would lose
            // them and type their tracks into the host's window.
            if (!refused) {
                refused = std::current_exception();
            }
        }
    }
    if (refused) {
        std::rethrow_exception(refused);
    }
    return found;
}

}  // namespace wedgecard
