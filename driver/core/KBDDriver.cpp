#include "driver/core/KBDDriver.h"

#include <algorithm>
#include <array>
#include <exception>
#include <vector>

#include "driver/capture/KeyboardHook.h"
#include "driver/core/DeviceManager.h"
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

TKBDDriver::TKBDDriver(const TDriverServices& Services) : FServices(Services) {
    ClearError();
}

TKBDDriver::~TKBDDriver() {
    FEvents.reset();
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
        FKeyboardHook->OnKeyboardData = [this](const TKeys& Keys, int& Start, int& Stop) {
            return ReceiveKeyboardData(Keys, Start, Stop);
        };
    }
    return *FKeyboardHook;
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
        for (std::size_t track = 0; track < 3; ++track) {
            device->Prefixes[track] =
                DecodeKeyCodes(settings.Codes[2 * track], CodeSettingNames[2 * track]);
            device->Suffixes[track] =
                DecodeKeyCodes(settings.Codes[2 * track + 1], CodeSettingNames[2 * track + 1]);
        }
        device->Sensitivity = settings.Sensitivity;
        DeviceID = TKBDUtils::ToWide(device->ID());

        LogFile().SetFileName(LogFileNameFor(FServices.Module.GetModulePath()));
        LogFile().SetEnabled(settings.LogEnabled);

        // The quiet time changes only once the hook is in place, so a failed Open leaves the
        // capture exactly as it was.
        KeyboardHook().SetActive(true);
        KeyboardHook().SetSensitivity(settings.Sensitivity);
    } catch (const std::exception& error) {
        delete device;
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
    bool result = ClearError();
    AdditionalDescription = TKBDUtils::ToWide(FLastErrorText);
    try {
        // The dialog captures keys itself; the two captures are never on together.
        const bool wasActive = KeyboardHook().Active();
        KeyboardHook().SetActive(false);
        try {
            FServices.DeviceTestDialog.ShowDeviceTest();
        } catch (...) {
            try {
                KeyboardHook().SetActive(wasActive);
            } catch (...) {
            }
            throw;
        }
        KeyboardHook().SetActive(wasActive);
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
    Logger().Debug("AddDataEvent(" + Source + "; " + Message + "; " + Data + ")");
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

bool TKBDDriver::ReceiveKeyboardData(const TKeys& Keys, int& Start, int& Stop) {
    Logger().Debug("ReceiveKeyboardData <-" + Keys.GetText(0, Keys.Count() - 1, true));

    // Delivering an event runs the host's handler, which may close devices or open new ones:
    // walk the devices that were open when the burst ended, skipping any closed meanwhile.
    std::vector<std::string> deviceIDs;
    deviceIDs.reserve(static_cast<std::size_t>(Devices().Count()));
    for (int i = 0; i < Devices().Count(); ++i) {
        deviceIDs.push_back(Devices().Items(i)->ID());
    }

    int first = Keys.Count() - 1;
    int last = 0;
    bool found = false;
    std::exception_ptr refused;
    for (const std::string& id : deviceIDs) {
        const T1CDevice* device = Devices().Find(id);
        if (device == nullptr) {
            continue;
        }
        TKeys::TTemplates templates;
        for (std::size_t t = 0; t < templates.size(); ++t) {
            templates[t] = {device->Prefixes[t], device->Suffixes[t]};
        }
        TKeys::TTracks tracks;
        int trackStart = 0;
        int trackStop = 0;
        if (!Keys.FindTracks(templates, trackStart, tracks, trackStop)) {
            continue;
        }
        found = true;
        first = std::min(first, trackStart);
        last = std::max(last, trackStop);
        // Reported before the delivery, which may fail: the capture still knows what the
        // events queued so far consumed.
        Start = first;
        Stop = last;
        try {
            AddDataEvent(id, EventNames[static_cast<std::size_t>(TEventKind::CardRead)],
                         FormatTrackData(tracks));
        } catch (...) {
            // The host refused the delivery; that event stays queued as the outstanding one.
            // The other devices still get theirs queued behind it: stopping here would lose
            // their card reads and type their tracks into the host's window.
            if (!refused) {
                refused = std::current_exception();
            }
        }
    }
    if (!found) {
        Start = 0;
        Stop = Keys.Count() - 1;
    }
    if (refused) {
        std::rethrow_exception(refused);
    }
    return found;
}

std::string TKBDDriver::FormatTrackData(const TKeys::TTracks& Tracks) {
    std::string data;
    for (std::size_t t = 0; t < Tracks.size(); ++t) {
        data += '@';
        data += static_cast<char>('1' + t);
        for (const char c : Tracks[t]) {
            data += c;
            if (c == '@') {
                data += '@';
            }
        }
    }
    return data;
}

}  // namespace wedgecard
