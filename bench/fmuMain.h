#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "Benchpad_TLB.h"
#include "WedgecardLib_TLB.h"
#include "bench/ComSupport.h"
#include "bench/oleAsyncEvents.h"
#include "bench/untListView.h"
#include "driver/diagnostics/SizeableForm.h"
#include "driver/host/LanguageExtender.h"

namespace benchpad {

// Marks at the start of an event row (state images of lvEvents).
enum TEventMark : int {
    emReceived = 0,      // red: not acknowledged
    emAcknowledged = 1,  // green: acknowledged with the state flag true
    emRejected = 2,      // yellow: acknowledged by hand with the state flag false
};

// The bench's main window: it plays the driver's host. It creates the driver, hands it the
// event sink and the settings array, runs every driver operation from a button, lists the open
// devices and the events received, and types a card swipe into its own input.
//
// Everything runs on the thread that created it, which must be in a single-threaded COM
// apartment where the classes of Array1C are registered (TLocalServer) and must run its
// messages: the driver's keyboard capture and its events live on that thread.
class TfmMain final : public wedgecard::TSizeableForm {
public:
    // Creates the window, hidden, and connects the driver (FormCreate). A failure to connect
    // is shown in the error box, and the window is made all the same.
    TfmMain();
    // Lets the driver go before the event sink it holds (FormDestroy).
    ~TfmMain() override;

    // The close box: releases the settings array (FormClose) and destroys the window.
    void Close() override;

    // Whether FormCreate got the driver.
    [[nodiscard]] bool DriverConnected() const noexcept { return static_cast<bool>(FDriverIntf); }

    [[nodiscard]] TListView DeviceList() const { return TListView(Control("lvDeviceList")); }
    [[nodiscard]] TListView EventList() const { return TListView(Control("lvEvents")); }
    // The context menu of the event list; its items are in the order of TEventMenuItem.
    [[nodiscard]] HMENU EventMenu() const noexcept { return FEventMenu; }

    enum TEventMenuItem : UINT { miCopyLine = 40001, miCopyData, miClearEventList };

protected:
    LRESULT WindowProc(UINT Message, WPARAM WParam, LPARAM LParam) override;

private:
    struct TFontDeleter {
        void operator()(HFONT Font) const noexcept { DeleteObject(Font); }
    };
    struct TImageListDeleter {
        void operator()(HIMAGELIST List) const noexcept { ImageList_Destroy(List); }
    };
    struct TMenuDeleter {
        void operator()(HMENU Menu) const noexcept { DestroyMenu(Menu); }
    };

    void FormCreate();
    void CreateLists();
    void ConnectDriver();
    void FillValuesArray();
    void ShowResult();

    void btnOpenClick();
    void btnCloseClick();
    void btnDeviceTestClick();
    void btnEventProcessedClick();
    void btnGetVersionClick();
    void btnGetLastErrorClick();
    void btnSendDataClick();
    void btnSelectKeyClick(std::string_view Edit);
    void miCopyLineClick();
    void miCopyDataClick();
    void miClearEventListClick();
    void lvEventsSelectItem(int Row);
    void ShowEventMenu(LPARAM Position);

    // The OnExternalEvent of the sink: the driver's call of ExternalEvent, on this thread,
    // perhaps nested in a driver call of a command or of an earlier event.
    void HandleExternalEvent(const std::wstring& Source, const std::wstring& Message,
                             const std::wstring& Data);
    void SelectDevice(const std::wstring& DeviceID);

    // The driver, or an error saying why there is none.
    [[nodiscard]] ILumMSRKBD1C& Driver() const;
    [[nodiscard]] IArray1C& ValuesArray() const;

    // Declared first, so that it outlives every reference to the driver, which holds it.
    TAsyncEvents FAsyncEvents;
    ComPtr<IArray1C> FValuesArray;
    ComPtr<IDispatch> FDriver;
    ComPtr<IInitDone> FInitDone;
    ComPtr<ILumMSRKBD1C> FDriverIntf;
    // Why FormCreate has no driver; empty when it has one.
    std::string FDriverError;
    bool FLastResult = false;
    std::int32_t FEventNumber = 1;

    std::unique_ptr<std::remove_pointer_t<HFONT>, TFontDeleter> FListFont;
    std::unique_ptr<std::remove_pointer_t<HIMAGELIST>, TImageListDeleter> FStateImages;
    std::unique_ptr<std::remove_pointer_t<HMENU>, TMenuDeleter> FEventMenuOwner;
    HMENU FEventMenu = nullptr;
};

// The stored form of TfmMain.
[[nodiscard]] wedgecard::TFormDescription MainForm();

}  // namespace benchpad
