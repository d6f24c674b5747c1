#include "bench/fmuMain.h"

#include <uxtheme.h>
#include <windowsx.h>

#include <array>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bench/KeystrokeSender.h"
#include "bench/fmuSelectKey.h"
#include "bench/untConsts.h"
#include "driver/diagnostics/ModuleInfo.h"

namespace benchpad {

using namespace wedgecard;

namespace {

constexpr int StateImageSize = 16;
constexpr COLORREF StateImageMaskColor = RGB(255, 0, 255);

// The key-code fields of the tab "Подключение", each with its "+" and "x" buttons.
constexpr std::array<const char*, 6> KeyCodeFields = {"Prefix1", "Suffix1", "Prefix2",
                                                      "Suffix2", "Prefix3", "Suffix3"};

TControlDescription Label(std::string Name, std::string Caption, int Left, int Top,
                          std::string Parent) {
    return {.Name = std::move(Name),
            .ClassName = L"STATIC",
            .Caption = std::move(Caption),
            .Left = Left,
            .Top = Top,
            .Parent = std::move(Parent)};
}

TControlDescription Edit(std::string Name, std::string Text, int Left, int Top, int Width,
                         int TabOrder, std::string Parent) {
    return {.Name = std::move(Name),
            .ClassName = L"EDIT",
            .Caption = std::move(Text),
            .Left = Left,
            .Top = Top,
            .Width = Width,
            .Height = 21,
            .TabOrder = TabOrder,
            .Style = ES_AUTOHSCROLL,
            .ExStyle = WS_EX_CLIENTEDGE,
            .Parent = std::move(Parent)};
}

TControlDescription Button(std::string Name, std::string Caption, int Left, int Top, int Width,
                           int Height, int TabOrder, std::string Parent,
                           TAnchors Anchors = akLeft | akTop) {
    return {.Name = std::move(Name),
            .ClassName = L"BUTTON",
            .Caption = std::move(Caption),
            .Left = Left,
            .Top = Top,
            .Width = Width,
            .Height = Height,
            .Anchors = Anchors,
            .TabOrder = TabOrder,
            .Style = BS_PUSHBUTTON,
            .Parent = std::move(Parent)};
}

TControlDescription CheckBox(std::string Name, std::string Caption, int Left, int Top, int Width,
                             int TabOrder, std::string Parent) {
    return {.Name = std::move(Name),
            .ClassName = L"BUTTON",
            .Caption = std::move(Caption),
            .Left = Left,
            .Top = Top,
            .Width = Width,
            .Height = 17,
            .TabOrder = TabOrder,
            .Style = BS_AUTOCHECKBOX,
            .Parent = std::move(Parent)};
}

TControlDescription Page(std::string Name, std::string Caption) {
    return {.Name = std::move(Name), .Caption = std::move(Caption), .Parent = "pgcTop"};
}

// A key-code field of the tab "Подключение" with its "+" and "x" buttons; TabOrder is the
// field's, the buttons follow it.
void AddKeyCodeField(std::vector<TControlDescription>& Controls, const std::string& Field,
                     std::string Text, int Left, int Top, int TabOrder) {
    Controls.push_back(Edit("edt" + Field, std::move(Text), Left, Top, 57, TabOrder, "tsMain"));
    Controls.push_back(
        Button("btnSelect" + Field, "+", Left + 58, Top, 21, 21, TabOrder + 1, "tsMain"));
    Controls.push_back(
        Button("btnClear" + Field, "x", Left + 79, Top, 21, 21, TabOrder + 2, "tsMain"));
}

TControlDescription ListView(std::string Name, int Height, DWORD Style, std::string Parent) {
    return {.Name = std::move(Name),
            .ClassName = WC_LISTVIEWW,
            .Left = 11,
            .Top = 24,
            .Width = 594,
            .Height = Height,
            .Anchors = akLeft | akTop | akRight | akBottom,
            .TabOrder = 0,
            .Style = LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL | Style,
            .ExStyle = WS_EX_CLIENTEDGE,
            .Parent = std::move(Parent)};
}

// The result line: read-only, on the button face.
TControlDescription ResultEdit() {
    return {.Name = "edtResult",
            .ClassName = L"EDIT",
            .Left = 72,
            .Top = 136,
            .Width = 552,
            .Height = 21,
            .Anchors = akLeft | akTop | akRight,
            .TabOrder = 1,
            .Style = ES_READONLY | ES_AUTOHSCROLL,
            .ExStyle = WS_EX_CLIENTEDGE,
            .Color = COLOR_BTNFACE};
}

TControlDescription GroupBox(std::string Name, std::string Caption, int Top, int Height,
                             TAnchors Anchors) {
    return {.Name = std::move(Name),
            .ClassName = L"BUTTON",
            .Caption = std::move(Caption),
            .Left = 8,
            .Top = Top,
            .Width = 616,
            .Height = Height,
            .Anchors = Anchors,
            .Style = BS_GROUPBOX};
}

// A ball of 16 x 16 pixels in Color, lit from the upper left.
void DrawBall(HDC Canvas, COLORREF Color) {
    const auto shade = [Color](int Towards, int Percent) {
        const auto mix = [&](int Channel) {
            return static_cast<BYTE>(Channel + (Towards - Channel) * Percent / 100);
        };
        return RGB(mix(GetRValue(Color)), mix(GetGValue(Color)), mix(GetBValue(Color)));
    };
    const RECT all{0, 0, StateImageSize, StateImageSize};
    HBRUSH background = CreateSolidBrush(StateImageMaskColor);
    FillRect(Canvas, &all, background);
    DeleteObject(background);

    const auto ellipse = [Canvas](COLORREF Outline, COLORREF Fill, RECT Place) {
        HPEN pen = CreatePen(PS_SOLID, 1, Outline);
        HBRUSH brush = CreateSolidBrush(Fill);
        const HGDIOBJ oldPen = SelectObject(Canvas, pen);
        const HGDIOBJ oldBrush = SelectObject(Canvas, brush);
        Ellipse(Canvas, Place.left, Place.top, Place.right, Place.bottom);
        SelectObject(Canvas, oldBrush);
        SelectObject(Canvas, oldPen);
        DeleteObject(brush);
        DeleteObject(pen);
    };
    ellipse(shade(0, 45), Color, RECT{1, 1, 15, 15});
    ellipse(shade(255, 45), shade(255, 45), RECT{4, 3, 9, 8});
}

HIMAGELIST MakeStateImages() {
    HIMAGELIST images =
        ImageList_Create(StateImageSize, StateImageSize, ILC_COLOR24 | ILC_MASK, 3, 0);
    if (images == nullptr) {
        throw std::runtime_error("Не удалось создать список изображений");
    }
    HDC screen = GetDC(nullptr);
    HDC canvas = CreateCompatibleDC(screen);
    // In the order of TEventMark: red, green, yellow.
    for (const COLORREF color : {RGB(220, 30, 30), RGB(30, 170, 50), RGB(240, 200, 20)}) {
        HBITMAP bitmap = CreateCompatibleBitmap(screen, StateImageSize, StateImageSize);
        const HGDIOBJ previous = SelectObject(canvas, bitmap);
        DrawBall(canvas, color);
        SelectObject(canvas, previous);
        ImageList_AddMasked(images, bitmap, StateImageMaskColor);
        DeleteObject(bitmap);
    }
    DeleteDC(canvas);
    ReleaseDC(nullptr, screen);
    return images;
}

// The system's text for an HRESULT.
std::string SystemText(HRESULT Result) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(Result), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        wchar_t code[32];
        wsprintfW(code, L"0x%08lX", static_cast<unsigned long>(Result));
        text = code;
    }
    return NarrowText(text);
}

// A failing HRESULT as an error: the description the callee left in the thread's error
// information, or the system's text for the HRESULT when it left none.
void Check(HRESULT Result, std::string_view Context = {}) {
    if (SUCCEEDED(Result)) {
        return;
    }
    std::string text;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        TBstr description;
        if (SUCCEEDED(info->GetDescription(description.Put()))) {
            text = NarrowText(description.Text());
        }
    }
    if (text.empty()) {
        text = SystemText(Result);
    }
    throw EOleError(Result, Context.empty() ? text : std::string(Context) + ": " + text);
}

// One call whose failure is described by the callee; error information left from an earlier
// call must not pass for this one's.
template <class TCall>
void Call(TCall&& Body) {
    SetErrorInfo(0, nullptr);
    Check(std::forward<TCall>(Body)());
}

TVariant IntValue(std::int32_t Value) {
    TVariant variant;
    VARIANT* target = variant.Put();
    V_VT(target) = VT_I4;
    V_I4(target) = Value;
    return variant;
}

TVariant TextValue(const std::string& Value) {
    TVariant variant;
    TBstr text(WideText(Value));
    VARIANT* target = variant.Put();
    V_VT(target) = VT_BSTR;
    V_BSTR(target) = text.Detach();
    return variant;
}

TVariant BoolValue(bool Value) {
    TVariant variant;
    VARIANT* target = variant.Put();
    V_VT(target) = VT_BOOL;
    V_BOOL(target) = Value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

// An element of the settings array converted to Type.
TVariant ArrayElement(IArray1C& Array, LONG Index, VARTYPE Type) {
    TVariant element;
    Call([&] { return Array.Get(Index, element.Put()); });
    TVariant converted;
    Check(VariantChangeType(converted.Put(), const_cast<VARIANT*>(&element.Get()), 0, Type));
    return converted;
}

void CopyToClipboard(HWND Owner, const std::wstring& Text) {
    if (!OpenClipboard(Owner)) {
        throw std::runtime_error("Буфер обмена занят другой программой");
    }
    struct TClose {
        ~TClose() { CloseClipboard(); }
    } close;
    EmptyClipboard();
    const std::size_t size = (Text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    CopyMemory(GlobalLock(memory), Text.c_str(), size);
    GlobalUnlock(memory);
    // The system makes the ANSI text of it for programs that ask for that.
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
        GlobalFree(memory);
        throw std::runtime_error("Не удалось поместить текст в буфер обмена");
    }
}

}  // namespace

TFormDescription MainForm() {
    // The tab control and the list views are common controls: their classes must be there
    // before the form makes its controls.
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);

    std::vector<TControlDescription> controls = {
        {.Name = "pgcTop",
         .ClassName = WC_TABCONTROLW,
         .Left = 8,
         .Top = 8,
         .Width = 617,
         .Height = 121,
         .Anchors = akLeft | akTop | akRight,
         // A tab stop: the arrow keys turn its pages.
         .TabOrder = 0},
        Page("tsMain", "Подключение"),
        Label("lblSensitivity", "Чувствительность, мс:", 8, 13, "tsMain"),
        Edit("edtSensitivity", "100", 128, 9, 57, 0, "tsMain"),
        CheckBox("chkLogEnabled", "ВестиЛог", 200, 11, 161, 1, "tsMain"),
        Label("lblPrefix", "Преф1:", 8, 40, "tsMain"),
        Label("lblSuffix", "Суфф1:", 8, 65, "tsMain"),
        Label("lbl1", "Преф2:", 160, 40, "tsMain"),
        Label("lbl2", "Суфф2:", 160, 65, "tsMain"),
        Label("lbl3", "Преф3:", 309, 40, "tsMain"),
        Label("lbl4", "Суфф3:", 309, 65, "tsMain"),
    };
    AddKeyCodeField(controls, "Prefix1", "#9", 49, 36, 2);
    AddKeyCodeField(controls, "Suffix1", "#13", 49, 61, 5);
    AddKeyCodeField(controls, "Prefix2", "#33", 200, 36, 8);
    AddKeyCodeField(controls, "Suffix2", "#34", 200, 61, 11);
    AddKeyCodeField(controls, "Prefix3", "#35", 351, 36, 14);
    AddKeyCodeField(controls, "Suffix3", "#36", 351, 61, 17);
    const TAnchors topRight = akTop | akRight;
    for (TControlDescription& control : std::vector<TControlDescription>{
             Button("btnOpen", "Подключить", 466, 4, 135, 25, 20, "tsMain", topRight),
             Button("btnClose", "Отключить", 466, 33, 135, 25, 21, "tsMain", topRight),
             Button("btnDeviceTest", "ТестУстройства", 466, 62, 135, 25, 22, "tsMain", topRight),

             Page("tsEvent", "Событие"),
             CheckBox("chkStateFlag", "Флаг состояния", 16, 14, 121, 0, "tsEvent"),
             CheckBox("chkAutoProcess", "Обрабатывать автоматич.", 16, 38, 153, 1, "tsEvent"),
             Button("btnEventProcessed", "СобытиеОбработано", 178, 14, 135, 25, 2, "tsEvent"),

             Page("tsOther", "Прочее"),
             Button("btnGetVersion", "ПолучитьНомерВерсии", 10, 6, 135, 25, 0, "tsOther"),
             Button("btnGetLastError", "ПолучитьОшибку", 10, 38, 135, 25, 1, "tsOther"),

             Page("tsSend", "Посылка"),
             Label("lblData", "Трек1:", 9, 22, "tsSend"),
             Edit("edtTrack1", ";12345=67890?", 56, 18, 89, 0, "tsSend"),
             Label("lblTestPrefix", "Преф1:", 9, 48, "tsSend"),
             Edit("edtTestPrefix1", "#9", 56, 44, 65, 1, "tsSend"),
             Label("lblTestSuffix", "Суфф1:", 9, 72, "tsSend"),
             Edit("edtTestSuffix1", "#13", 56, 68, 65, 2, "tsSend"),
             Label("lblTrack2", "Трек2:", 159, 22, "tsSend"),
             Edit("edtTrack2", "Track2", 208, 18, 89, 8, "tsSend"),
             Label("Label1", "Преф2:", 159, 48, "tsSend"),
             Edit("edtTestPrefix2", "#33", 208, 44, 65, 3, "tsSend"),
             Label("Label2", "Суфф2:", 159, 72, "tsSend"),
             Edit("edtTestSuffix2", "#34", 208, 68, 65, 4, "tsSend"),
             Label("lblTrack3", "Трек3:", 311, 22, "tsSend"),
             Edit("edtTrack3", "Track3", 360, 18, 89, 9, "tsSend"),
             Label("Label3", "Преф3:", 311, 48, "tsSend"),
             Edit("edtTestPrefix3", "#35", 360, 44, 65, 5, "tsSend"),
             Label("Label4", "Суфф3:", 311, 72, "tsSend"),
             Edit("edtTestSuffix3", "#36", 360, 68, 65, 6, "tsSend"),
             Button("btnSendData", "Отправить данные", 464, 16, 139, 25, 7, "tsSend", topRight),

             Label("lblResult", "Результат:", 8, 140, ""),
             ResultEdit(),
             GroupBox("grpDeviceList", "Список устройств", 160, 123, akLeft | akTop | akRight),
             ListView("lvDeviceList", 89, 0, "grpDeviceList"),
             GroupBox("grpEventList", "События", 288, 157, akLeft | akTop | akRight | akBottom),
             // The window keeps the state images: the list would destroy them with itself.
             ListView("lvEvents", 122, LVS_SHAREIMAGELISTS, "grpEventList"),
         }) {
        controls.push_back(std::move(control));
    }

    return TFormDescription{
        .Name = "fmMain",
        .Caption = "Тест драйвера СМК",
        .Width = 640,
        .Height = 480,
        .ClientWidth = 632,
        .ClientHeight = 453,
        .Constraints = {.MinWidth = 640, .MinHeight = 420},
        .Controls = std::move(controls),
    };
}

TfmMain::TfmMain() : TSizeableForm(MainForm()) {
    // The controls on the pages paint the button face around them, as the form does; a
    // themed pane of another colour would show each of them as a patch.
    SetWindowTheme(Control("pgcTop"), L" ", L" ");
    CreateLists();
    for (const char* check : {"chkLogEnabled", "chkStateFlag", "chkAutoProcess"}) {
        SetChecked(check, true);
    }
    SetOnClick("btnOpen", [this] { btnOpenClick(); });
    SetOnClick("btnClose", [this] { btnCloseClick(); });
    SetOnClick("btnDeviceTest", [this] { btnDeviceTestClick(); });
    SetOnClick("btnEventProcessed", [this] { btnEventProcessedClick(); });
    SetOnClick("btnGetVersion", [this] { btnGetVersionClick(); });
    SetOnClick("btnGetLastError", [this] { btnGetLastErrorClick(); });
    SetOnClick("btnSendData", [this] { btnSendDataClick(); });
    for (const char* name : KeyCodeFields) {
        const std::string field = name;
        SetOnClick("btnSelect" + field, [this, field] { btnSelectKeyClick("edt" + field); });
        SetOnClick("btnClear" + field, [this, field] { SetText("edt" + field, ""); });
    }

    // The program's icon, where the program that shows the window has one.
    const HINSTANCE program = GetModuleHandleW(nullptr);
    if (HICON icon = LoadIconW(program, L"MAINICON")) {
        SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        const auto small = static_cast<HICON>(LoadImageW(program, L"MAINICON", IMAGE_ICON,
                                                         GetSystemMetrics(SM_CXSMICON),
                                                         GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }

    FormCreate();
}

TfmMain::~TfmMain() {
    FAsyncEvents.OnExternalEvent = nullptr;
    // The driver goes first: with its last reference go its keyboard capture and its hold on
    // the sink. It is not told Done.
    FDriver.Reset();
    FDriverIntf.Reset();
    FInitDone.Reset();
    FValuesArray.Reset();
    // The window goes before the font, the images and the menu it uses.
    if (Handle() != nullptr) {
        DestroyWindow(Handle());
    }
}

void TfmMain::CreateLists() {
    FListFont.reset(CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, RUSSIAN_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                FIXED_PITCH | FF_MODERN, L"Courier New"));
    for (const TListView list : {DeviceList(), EventList()}) {
        SendMessageW(list.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(FListFont.get()), FALSE);
        SendMessageW(list.Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                     LVS_EX_FULLROWSELECT);
    }
    const TListView devices = DeviceList();
    devices.AddColumn(L"ИДУстройства", 270);
    devices.AddColumn(L"Чувств.", 65);
    for (const wchar_t* column : {L"Преф1", L"Суфф1", L"Преф2", L"Суфф2", L"Преф3", L"Суфф3"}) {
        devices.AddColumn(column, 50);
    }
    devices.AddColumn(L"Лог", 0);

    const TListView events = EventList();
    events.AddColumn(L"№", 40);
    events.AddColumn(L"ИДУстройства", 286);
    events.AddColumn(L"Тип", 100);
    events.AddColumn(L"Данные", 0);
    // A state image list of its own and no check boxes: the marks change only when the
    // program changes them, never by a click on them.
    FStateImages.reset(MakeStateImages());
    SendMessageW(events.Handle(), LVM_SETIMAGELIST, LVSIL_STATE,
                 reinterpret_cast<LPARAM>(FStateImages.get()));

    FEventMenuOwner.reset(CreatePopupMenu());
    FEventMenu = FEventMenuOwner.get();
    AppendMenuW(FEventMenu, MF_STRING, miCopyLine, L"Копировать всю строку");
    AppendMenuW(FEventMenu, MF_STRING, miCopyData, L"Копировать данные");
    AppendMenuW(FEventMenu, MF_STRING, miClearEventList, L"Очистить список событий");
}

void TfmMain::FormCreate() {
    SetCaption("Тест драйвера СМК " + GetFileVersionText());
    SetActivePage("tsMain");
    try {
        ConnectDriver();
    } catch (const std::exception& error) {
        FDriverError = error.what();
        HandleException(error);
    }
}

void TfmMain::ConnectDriver() {
    Check(CoCreateInstance(CLSID_Array1C, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                           IID_IArray1C, &FValuesArray),
          "Не удалось создать массив настроек Array1C");
    FAsyncEvents.OnExternalEvent = [this](const std::wstring& Source, const std::wstring& Message,
                                          const std::wstring& Data) {
        HandleExternalEvent(Source, Message, Data);
    };

    const std::string driverName = "Не удалось создать драйвер " + NarrowText(DriverProgID);
    CLSID driverClass{};
    Check(CLSIDFromProgID(DriverProgID, &driverClass), driverName);
    Check(CoCreateInstance(driverClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                           IID_IDispatch, &FDriver),
          driverName);
    Check(FDriver->QueryInterface(IID_IInitDone, &FInitDone), "Драйвер не предоставляет IInitDone");
    // The driver takes its IAsyncEvent from the sink; what it answers is not looked at.
    static_cast<void>(FInitDone->Init(static_cast<IAsyncEvents*>(&FAsyncEvents)));
    Check(FDriver->QueryInterface(IID_ILumMSRKBD1C, &FDriverIntf),
          "Драйвер не предоставляет ILumMSRKBD1C");
    FEventNumber = 1;
    FillValuesArray();
}

ILumMSRKBD1C& TfmMain::Driver() const {
    if (!FDriverIntf) {
        throw std::runtime_error("Драйвер не подключён" +
                                 (FDriverError.empty() ? std::string() : ": " + FDriverError));
    }
    return *FDriverIntf.Get();
}

IArray1C& TfmMain::ValuesArray() const {
    if (!FValuesArray) {
        throw std::runtime_error("Массив настроек не создан" +
                                 (FDriverError.empty() ? std::string() : ": " + FDriverError));
    }
    return *FValuesArray.Get();
}

void TfmMain::FillValuesArray() {
    IArray1C& values = ValuesArray();
    Call([&] { return values.Clear(); });
    // After Clear: a sensitivity that is no number leaves the array empty.
    std::vector<TVariant> settings;
    settings.push_back(IntValue(StrToInt(Text("edtSensitivity"))));
    for (const char* field : KeyCodeFields) {
        settings.push_back(TextValue(Text(std::string("edt") + field)));
    }
    settings.push_back(BoolValue(Checked("chkLogEnabled")));
    for (const TVariant& setting : settings) {
        Call([&] { return values.Add(setting.Get()); });
    }
}

void TfmMain::ShowResult() {
    TBstr description;
    LONG code = 0;
    Call([&] { return Driver().GetLastError(description.Put(), &code); });
    SetText("edtResult", std::string(FLastResult ? "True" : "False") + " (" + std::to_string(code) +
                             ") " + NarrowText(description.Text()));
}

void TfmMain::btnOpenClick() {
    ILumMSRKBD1C& driver = Driver();
    FillValuesArray();
    TBstr deviceID;
    VARIANT_BOOL result = VARIANT_FALSE;
    Call([&] { return driver.Open(FValuesArray.Get(), deviceID.Put(), &result); });
    FLastResult = result != VARIANT_FALSE;
    ShowResult();
    if (!FLastResult) {
        return;
    }
    // What the driver read, as the array holds it now.
    IArray1C& values = ValuesArray();
    std::vector<std::wstring> row = {deviceID.Text(),
                                     std::to_wstring(V_I4(&ArrayElement(values, 0, VT_I4).Get()))};
    for (LONG index = 1; index <= 6; ++index) {
        row.push_back(WideOf(V_BSTR(&ArrayElement(values, index, VT_BSTR).Get())));
    }
    const bool logEnabled = V_BOOL(&ArrayElement(values, 7, VT_BOOL).Get()) != VARIANT_FALSE;
    row.push_back(WideText(LogStateNames[logEnabled ? 1 : 0]));

    const TListView devices = DeviceList();
    const int added = devices.Add(row);
    SetFocus(devices.Handle());
    devices.Select(added);
    devices.ScrollDownOnePage();
}

void TfmMain::btnCloseClick() {
    const TListView devices = DeviceList();
    const int selected = devices.Selected();
    if (selected < 0) {
        MessageBoxW(Handle(), WideText(SNoDeviceSelected).c_str(),
                    WideText(Description().Caption).c_str(), MB_OK);
        return;
    }
    ILumMSRKBD1C& driver = Driver();
    const TBstr deviceID(devices.Text(selected, 0));
    VARIANT_BOOL result = VARIANT_FALSE;
    Call([&] { return driver.Close(deviceID.Get(), &result); });
    FLastResult = result != VARIANT_FALSE;
    if (FLastResult) {
        SetFocus(devices.Handle());
        devices.Delete(selected);
        if (const int count = devices.Count(); count > 0) {
            devices.Select(count - 1);
        }
    }
    ShowResult();
}

void TfmMain::btnDeviceTestClick() {
    ILumMSRKBD1C& driver = Driver();
    FillValuesArray();
    TBstr description;
    VARIANT_BOOL result = VARIANT_FALSE;
    Call([&] { return driver.DeviceTest(FValuesArray.Get(), description.Put(), &result); });
    FLastResult = result != VARIANT_FALSE;
    ShowResult();
}

void TfmMain::btnEventProcessedClick() {
    const TListView events = EventList();
    const int selected = events.Selected();
    if (selected < 0) {
        MessageBoxW(Handle(), WideText(SNoEventSelected).c_str(),
                    WideText(Description().Caption).c_str(), MB_OK);
        return;
    }
    ILumMSRKBD1C& driver = Driver();
    const TBstr deviceID(events.Text(selected, 1));
    const bool stateFlag = Checked("chkStateFlag");
    VARIANT_BOOL result = VARIANT_FALSE;
    // The driver may deliver the next event from inside this call; its row comes after this
    // one, which keeps its index.
    Call([&] {
        return driver.EventProcessed(deviceID.Get(), stateFlag ? VARIANT_TRUE : VARIANT_FALSE,
                                     &result);
    });
    FLastResult = result != VARIANT_FALSE;
    if (FLastResult) {
        events.SetStateImage(selected, stateFlag ? emAcknowledged : emRejected);
    }
    ShowResult();
}

void TfmMain::btnGetVersionClick() {
    TBstr version;
    Call([&] { return Driver().GetVersion(version.Put()); });
    SetText("edtResult", NarrowText(version.Text()));
}

void TfmMain::btnGetLastErrorClick() {
    TBstr description;
    LONG code = 0;
    Call([&] { return Driver().GetLastError(description.Put(), &code); });
    SetText("edtResult", "(" + std::to_string(code) + ") " + NarrowText(description.Text()));
}

void TfmMain::btnSendDataClick() {
    TTrackTexts tracks;
    for (std::size_t track = 0; track < tracks.size(); ++track) {
        const std::string number = std::to_string(track + 1);
        tracks[track] = TTrackText{.Prefix = Text("edtTestPrefix" + number),
                                   .Data = Text("edtTrack" + number),
                                   .Suffix = Text("edtTestSuffix" + number)};
    }
    SendTracks(tracks);
}

void TfmMain::btnSelectKeyClick(std::string_view Edit) {
    std::string code;
    if (SelectKeyCode(Handle(), code)) {
        SetText(Edit, Text(Edit) + code);
    }
}

void TfmMain::HandleExternalEvent(const std::wstring& Source, const std::wstring& Message,
                                  const std::wstring& Data) {
    SelectDevice(Source);
    const TListView events = EventList();
    SetFocus(events.Handle());
    // The number is taken before the acknowledgement below, which may deliver the next event
    // into a nested run of this handler: each row gets a number of its own.
    const std::int32_t number = FEventNumber++;
    const int row = events.Add({std::to_wstring(number), Source, Message, Data});
    events.Select(row);
    events.SetStateImage(row, emReceived);
    events.ScrollDownOnePage();
    if (Checked("chkAutoProcess")) {
        const TBstr deviceID(Source);
        VARIANT_BOOL result = VARIANT_FALSE;
        Call([&] { return Driver().EventProcessed(deviceID.Get(), VARIANT_TRUE, &result); });
        events.SetStateImage(row, emAcknowledged);
    }
}

void TfmMain::SelectDevice(const std::wstring& DeviceID) {
    const TListView devices = DeviceList();
    SetFocus(devices.Handle());
    devices.ClearSelection();
    for (int row = 0; row < devices.Count(); ++row) {
        if (devices.Text(row, 0) == DeviceID) {
            devices.Select(row);
            return;
        }
    }
}

void TfmMain::lvEventsSelectItem(int Row) {
    const TListView events = EventList();
    SelectDevice(events.Text(Row, 1));
    SetFocus(events.Handle());
}

void TfmMain::miCopyLineClick() {
    const TListView events = EventList();
    if (const int row = events.Selected(); row >= 0) {
        const std::vector<std::wstring> texts = events.Row(row);
        CopyToClipboard(Handle(), texts[0] + L" " + texts[1] + L" " + texts[2] + L" " + texts[3]);
    }
}

void TfmMain::miCopyDataClick() {
    const TListView events = EventList();
    if (const int row = events.Selected(); row >= 0) {
        CopyToClipboard(Handle(), events.Text(row, 3));
    }
}

void TfmMain::miClearEventListClick() {
    EventList().Clear();
    FEventNumber = 1;
}

void TfmMain::ShowEventMenu(LPARAM Position) {
    POINT at{GET_X_LPARAM(Position), GET_Y_LPARAM(Position)};
    if (at.x == -1 && at.y == -1) {
        // From the keyboard: under the selected row, or at the list's corner.
        const TListView events = EventList();
        RECT place = events.Selected() >= 0 ? events.RowOnScreen(events.Selected()) : RECT{};
        if (IsRectEmpty(&place)) {
            GetWindowRect(events.Handle(), &place);
            place.bottom = place.top;
        }
        at = POINT{place.left, place.bottom};
    }
    TrackPopupMenu(FEventMenu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0,
                   Handle(), nullptr);
}

void TfmMain::Close() {
    // FormClose
    FValuesArray.Reset();
    DestroyWindow(Handle());
}

LRESULT TfmMain::WindowProc(UINT Message, WPARAM WParam, LPARAM LParam) {
    switch (Message) {
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(LParam);
            if (header->hwndFrom == Control("lvEvents") &&
                header->code == static_cast<UINT>(LVN_ITEMCHANGED)) {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(LParam);
                if (change->iItem >= 0 && (change->uChanged & LVIF_STATE) != 0 &&
                    (change->uNewState & LVIS_SELECTED) != 0 &&
                    (change->uOldState & LVIS_SELECTED) == 0) {
                    lvEventsSelectItem(change->iItem);
                }
                return 0;
            }
            break;
        }
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(WParam) == Control("lvEvents")) {
                ShowEventMenu(LParam);
                return 0;
            }
            break;
        case WM_COMMAND:
            // Menu items come without a control and with the notification code 0.
            if (LParam == 0 && HIWORD(WParam) == 0) {
                switch (LOWORD(WParam)) {
                    case miCopyLine:
                        miCopyLineClick();
                        return 0;
                    case miCopyData:
                        miCopyDataClick();
                        return 0;
                    case miClearEventList:
                        miClearEventListClick();
                        return 0;
                    default:
                        break;
                }
            }
            break;
        case WM_SIZE: {
            const LRESULT result = TSizeableForm::WindowProc(Message, WParam, LParam);
            DeviceList().FitLastColumn();
            EventList().FitLastColumn();
            return result;
        }
        default:
            break;
    }
    return TSizeableForm::WindowProc(Message, WParam, LParam);
}

}  // namespace benchpad
