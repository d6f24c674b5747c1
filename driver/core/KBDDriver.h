#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/capture/CapturePlatform.h"
#include "driver/capture/CharacterCards.h"
#include "driver/capture/Keys.h"
#include "driver/core/LumMSRTypes.h"

namespace wedgecard {

class T1CDevice;
class TDeviceManager;
class TEventManager;
class T1CEvent;
class TKeyboardHook;
class TLogger;

// The settings of a device framed by characters (rather than by key codes), as a binding has
// converted them from its host's values; the frame's strings are character codes.
struct TCharacterSettings {
    std::int32_t Sensitivity = 100;
    bool LogEnabled = false;
    TCharacterFrame Frame;
};

// The depth each binding asks of the host's event buffer when the host connects. The host
// keeps each object's events in a buffer of one until told otherwise, and drops what does not
// fit. A driver that waits for acknowledgements hands out the next event only when the host
// acknowledges one, so a host that acknowledges from its handler needs room for two (the event
// it handles and the one its acknowledgement releases); code that acknowledges from elsewhere
// can release them faster than they are handled, and a driver that waits for none hands out
// every card as it is read.
inline constexpr std::int32_t HostEventBufferDepth = 64;

// What the driver needs of the platform it runs on.
struct TDriverServices {
    TCapturePlatform& Capture;
    IGuidSource& Guids;
    IModuleInfo& Module;
    IDeviceTestDialog& DeviceTestDialog;
};

// The driver's logic behind the six operations of its automation interface: devices, the
// keyboard capture, card recognition, the event queue and the last error. Every operation runs
// on the host's user-interface thread; events are delivered synchronously through OnEvent, and
// the host may call back into the driver from there.
class TKBDDriver {
public:
    explicit TKBDDriver(const TDriverServices& Services,
                        TEventDelivery Delivery = TEventDelivery::Acknowledged);
    TKBDDriver(const TKBDDriver&) = delete;
    TKBDDriver& operator=(const TKBDDriver&) = delete;
    // Drops undelivered events, forgets the devices and switches the capture off.
    ~TKBDDriver();

    // Each operation starts by clearing the last error and, when it fails, records code and
    // text, logs them and returns false.
    bool Open(IValuesArray& ValuesArray, std::wstring& DeviceID);
    bool Close(const std::wstring& DeviceID);
    bool EventProcessed(const std::wstring& DeviceID, bool StateFlag);
    bool DeviceTest(std::wstring& AdditionalDescription);
    void GetVersion(std::wstring& Version);

    // A device framed by characters; its cards are TracksData events. Error 6, naming the
    // equipment library's parameter, for a negative sensitivity, no track read, a track read
    // without a suffix, or a character no key types.
    bool Open(const TCharacterSettings& Settings, std::wstring& DeviceID);
    // DeviceTest for such settings: checks them as Open does before it shows the dialog.
    bool DeviceTest(const TCharacterSettings& Settings, std::wstring& AdditionalDescription);

    // A binding's own operation, run as the driver's are: the last error cleared first, and a
    // failure recorded, logged and answered with false.
    bool Perform(const std::function<void()>& Operation);

    [[nodiscard]] std::int32_t LastErrorCode() const noexcept { return FLastErrorCode; }
    [[nodiscard]] const std::string& LastErrorText() const noexcept { return FLastErrorText; }

    TKBDEventHandler OnEvent;

    // The capture's hand-over at the end of a burst: one card-read event per card a device
    // finds in Keys, in the order of the cards (of the devices' opening for one card); each
    // card's keys are added to Consumed. A delivery the host refuses is raised once every card
    // has had its turn.
    bool ReceiveKeyboardData(const TKeys& Keys, TKeyRanges& Consumed);

    // The capture's question after a key press that may end a card: what keys typed later can
    // still change of the cards the open devices read in Keys. Each device answers for itself;
    // Open if any is open, else Complete if a card of one ends at the last key.
    [[nodiscard]] TCardState CardState(const TKeys& Keys) const;

    void AddDataEvent(const std::string& Source, const std::string& Message,
                      const std::string& Data);
    void AddErrorEvent(const std::string& Text);
    void FireNextEvent();
    void FireEvent(const T1CEvent& Event);

    TDeviceManager& Devices();
    TEventManager& Events();
    TKeyboardHook& KeyboardHook();
    TLogger& Logger();

private:
    // A card one device read: its keys, and its event's name and data.
    struct TCardRead {
        std::string DeviceID;
        TKeyRange Keys;
        std::string Data;
        const char* Message = nullptr;
    };
    // Every card of every open device in Keys, in the order they are to be delivered.
    [[nodiscard]] std::vector<TCardRead> FindCards(const TKeys& Keys);

    // Tells the capture which keys can begin and end a card of the open devices.
    void UpdateCardPrefixes();
    // The quiet time of an object with devices that keep theirs: the longest of them. The
    // equipment library connects every device of a driver through one object; the other class
    // keeps the quiet time of its device opened last.
    void UpdateKeptQuietTime();
    // What is left of Open once the device has its framing: the log, the capture.
    void Activate(T1CDevice& Device, std::int32_t Sensitivity, bool LogEnabled,
                  std::wstring& DeviceID);
    // Raises error 6 for settings that frame no card.
    [[nodiscard]] static TCharacterFrame CharacterFrame(const TCharacterSettings& Settings);
    // DeviceTest: Settings, when given, checked as Open checks them, then the dialog with the
    // capture standing aside.
    bool ShowDeviceTest(const TCharacterSettings* Settings, std::wstring& AdditionalDescription);

    bool ClearError() noexcept;
    bool HandleError(const std::exception& Error);

    const TDriverServices FServices;
    const TEventDelivery FDelivery;
    bool FEventSent = false;
    std::unique_ptr<TLogger> FLogger;
    std::unique_ptr<TEventManager> FEvents;
    std::unique_ptr<TDeviceManager> FDevices;
    std::unique_ptr<TKeyboardHook> FKeyboardHook;
    std::int32_t FLastErrorCode = 0;
    std::string FLastErrorText;
};

// A prefix or suffix setting in key-code notation, one byte per code. Raises the driver's
// error 6 "<ParamName>: Неверный формат строки данных" for malformed text.
[[nodiscard]] std::string DecodeKeyCodes(const std::string& Text, const std::string& ParamName);

// The log file of a module: its path with the extension replaced by ".log"; empty for an
// empty path.
[[nodiscard]] std::string LogFileNameFor(const std::string& ModulePath);

}  // namespace wedgecard
