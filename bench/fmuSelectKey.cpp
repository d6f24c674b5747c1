#include "bench/fmuSelectKey.h"

#include <stdexcept>

#include "bench/untConsts.h"
#include "driver/capture/Keys.h"

namespace benchpad {

using namespace wedgecard;

namespace {

constexpr int KeyLineHeight = 21;

}  // namespace

TFormDescription SelectKeyForm() {
    return TFormDescription{
        .Name = "fmSelectKey",
        .Caption = "Добавить код",
        .Width = 310,
        .Height = 345,
        .ClientWidth = 302,
        .ClientHeight = 318,
        // Modal over the main window: minimised, it would leave that disabled with nothing to
        // click.
        .MinimizeBox = false,
        .MaximizeBox = false,
        .Controls =
            {
                {.Name = "lbKeys",
                 .ClassName = L"LISTBOX",
                 .Left = 8,
                 .Top = 8,
                 .Width = 285,
                 .Height = 273,
                 .Anchors = akLeft | akTop | akRight | akBottom,
                 .TabOrder = 0,
                 .Style = LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                          WS_VSCROLL,
                 .ExStyle = WS_EX_CLIENTEDGE},
                {.Name = "chkOnlyDescr",
                 .ClassName = L"BUTTON",
                 .Caption = "Только с описанием",
                 .Left = 8,
                 .Top = 292,
                 .Width = 129,
                 .Height = 17,
                 .Anchors = akLeft | akBottom,
                 .TabOrder = 1,
                 .Style = BS_AUTOCHECKBOX},
                {.Name = "btnOK",
                 .ClassName = L"BUTTON",
                 .Caption = "ОК",
                 .Left = 140,
                 .Top = 288,
                 .Width = 75,
                 .Height = 25,
                 .Anchors = akRight | akBottom,
                 .TabOrder = 2,
                 .Style = BS_PUSHBUTTON,
                 .ModalResult = mrOk,
                 .Default = true},
                {.Name = "btnCancel",
                 .ClassName = L"BUTTON",
                 .Caption = "Отмена",
                 .Left = 218,
                 .Top = 288,
                 .Width = 75,
                 .Height = 25,
                 .Anchors = akRight | akBottom,
                 .TabOrder = 3,
                 .Style = BS_PUSHBUTTON,
                 .ModalResult = mrCancel,
                 .Cancel = true},
            },
    };
}

TfmSelectKey::TfmSelectKey(HWND Owner) : TSizeableForm(SelectKeyForm(), Owner) {
    // The list box asked for its line height while it was made, before this window could
    // answer.
    SendMessageW(Control("lbKeys"), LB_SETITEMHEIGHT, 0, KeyLineHeight);
    SetChecked("chkOnlyDescr", true);
    SetOnClick("chkOnlyDescr", [this] { FillKeyList(); });
    SetOnClick("btnOK", [this] { btnOKClick(); });
    FillKeyList();
    SendMessageW(Control("lbKeys"), LB_SETCURSEL, 0, 0);
}

void TfmSelectKey::FillKeyList() {
    const HWND list = Control("lbKeys");
    const bool onlyNamed = Checked("chkOnlyDescr");
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (int code = 0; code < 256; ++code) {
        if (!onlyNamed || !KeyNames[static_cast<std::size_t>(code)].empty()) {
            const std::wstring line = WideText(KeyItemText(static_cast<std::uint8_t>(code)));
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        }
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

std::string TfmSelectKey::GetSelectedCode() const {
    const HWND list = Control("lbKeys");
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) {
        throw std::runtime_error("Код не выбран: выберите строку списка");
    }
    std::wstring line(static_cast<std::size_t>(
                          SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(selected), 0)),
                      L'\0');
    line.resize(static_cast<std::size_t>(SendMessageW(
        list, LB_GETTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(line.data()))));
    return KeyItemCode(NarrowText(line));
}

void TfmSelectKey::btnOKClick() {
    FChosenCode = GetSelectedCode();
}

void TfmSelectKey::DrawItem(const DRAWITEMSTRUCT& Item) const {
    if (Item.itemID == static_cast<UINT>(-1)) {
        if ((Item.itemState & ODS_FOCUS) != 0) {
            DrawFocusRect(Item.hDC, &Item.rcItem);
        }
        return;
    }
    const bool selected = (Item.itemState & ODS_SELECTED) != 0;
    FillRect(Item.hDC, &Item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    std::wstring line(
        static_cast<std::size_t>(SendMessageW(Item.hwndItem, LB_GETTEXTLEN, Item.itemID, 0)),
        L'\0');
    line.resize(static_cast<std::size_t>(SendMessageW(Item.hwndItem, LB_GETTEXT, Item.itemID,
                                                      reinterpret_cast<LPARAM>(line.data()))));
    const int mode = SetBkMode(Item.hDC, TRANSPARENT);
    const COLORREF color =
        SetTextColor(Item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text = Item.rcItem;
    text.left += 2;
    DrawTextW(Item.hDC, line.c_str(), static_cast<int>(line.size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SetTextColor(Item.hDC, color);
    SetBkMode(Item.hDC, mode);
    if ((Item.itemState & ODS_FOCUS) != 0) {
        DrawFocusRect(Item.hDC, &Item.rcItem);
    }
}

LRESULT TfmSelectKey::WindowProc(UINT Message, WPARAM WParam, LPARAM LParam) {
    switch (Message) {
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(LParam);
            if (item->hwndItem == Control("lbKeys")) {
                DrawItem(*item);
                return TRUE;
            }
            break;
        }
        case WM_COMMAND:
            if (reinterpret_cast<HWND>(LParam) == Control("lbKeys") &&
                HIWORD(WParam) == LBN_DBLCLK) {
                btnOKClick();
                SetModalResult(mrOk);
                return 0;
            }
            break;
        default:
            break;
    }
    return TSizeableForm::WindowProc(Message, WParam, LParam);
}

bool SelectKeyCode(HWND Owner, std::string& Code) {
    TfmSelectKey form(Owner);
    if (form.ShowModal() != mrOk) {
        return false;
    }
    Code = form.ChosenCode();
    return true;
}

}  // namespace benchpad
