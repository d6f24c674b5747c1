#include "bench/untListView.h"

#include <commctrl.h>

#include <algorithm>

namespace benchpad {

namespace {

LRESULT Send(HWND Window, UINT Message, WPARAM WParam, const void* LParam) {
    return SendMessageW(Window, Message, WParam, reinterpret_cast<LPARAM>(LParam));
}

// Room beside a text in a cell or a header: what the list keeps on either side.
constexpr int TextMargins = 12;

}  // namespace

void TListView::AddColumn(std::wstring_view Caption, int Width) const {
    std::wstring text(Caption);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text.data();
    column.cx = Width;
    Send(FHandle, LVM_INSERTCOLUMNW, static_cast<WPARAM>(ColumnCount()), &column);
    if (Width == 0) {
        FitLastColumn();
    }
}

void TListView::FitLastColumn() const {
    const int count = ColumnCount();
    if (count == 0) {
        return;
    }
    const int last = count - 1;
    RECT client{};
    GetClientRect(FHandle, &client);
    int left = client.right - client.left;
    for (int column = 0; column < last; ++column) {
        left -= static_cast<int>(
            SendMessageW(FHandle, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    }
    // The list's own LVSCW_AUTOSIZE_USEHEADER leaves the column 0 pixels wide, out of reach,
    // when the others take all the room.
    const auto textWidth = [this](const std::wstring& Text) {
        return static_cast<int>(Send(FHandle, LVM_GETSTRINGWIDTHW, 0, Text.c_str())) + TextMargins;
    };
    int width = textWidth(ColumnCaption(last));
    if (left < width) {
        for (int row = 0; row < Count(); ++row) {
            width = std::max(width, textWidth(Text(row, last)));
        }
    } else {
        width = left;
    }
    SendMessageW(FHandle, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(last), width);
}

int TListView::ColumnCount() const {
    const auto header = reinterpret_cast<HWND>(SendMessageW(FHandle, LVM_GETHEADER, 0, 0));
    return header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::wstring TListView::ColumnCaption(int Column) const {
    wchar_t buffer[256] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = buffer;
    column.cchTextMax = static_cast<int>(std::size(buffer));
    Send(FHandle, LVM_GETCOLUMNW, static_cast<WPARAM>(Column), &column);
    return buffer;
}

int TListView::Add(const std::vector<std::wstring>& Texts) const {
    std::vector<std::wstring> texts(Texts);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = Count();
    item.pszText = texts.empty() ? const_cast<wchar_t*>(L"") : texts[0].data();
    const auto row = static_cast<int>(Send(FHandle, LVM_INSERTITEMW, 0, &item));
    for (std::size_t column = 1; column < texts.size(); ++column) {
        LVITEMW sub{};
        sub.iSubItem = static_cast<int>(column);
        sub.pszText = texts[column].data();
        Send(FHandle, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), &sub);
    }
    FitLastColumn();
    return row;
}

int TListView::Count() const {
    return static_cast<int>(SendMessageW(FHandle, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring TListView::Text(int Row, int Column) const {
    std::wstring text(256, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = Column;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        const auto length = static_cast<std::size_t>(
            Send(FHandle, LVM_GETITEMTEXTW, static_cast<WPARAM>(Row), &item));
        if (length + 1 < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(text.size() * 2);
    }
}

std::vector<std::wstring> TListView::Row(int Row) const {
    std::vector<std::wstring> texts;
    for (int column = 0; column < ColumnCount(); ++column) {
        texts.push_back(Text(Row, column));
    }
    return texts;
}

void TListView::Delete(int Row) const {
    SendMessageW(FHandle, LVM_DELETEITEM, static_cast<WPARAM>(Row), 0);
}

void TListView::Clear() const {
    SendMessageW(FHandle, LVM_DELETEALLITEMS, 0, 0);
}

int TListView::Selected() const {
    return static_cast<int>(SendMessageW(FHandle, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                         MAKELPARAM(LVNI_SELECTED, 0)));
}

void TListView::Select(int Row) const {
    ClearSelection();
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    Send(FHandle, LVM_SETITEMSTATE, static_cast<WPARAM>(Row), &item);
}

void TListView::ClearSelection() const {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = 0;
    Send(FHandle, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), &item);
}

int TListView::StateImage(int Row) const {
    const auto state = static_cast<UINT>(
        SendMessageW(FHandle, LVM_GETITEMSTATE, static_cast<WPARAM>(Row), LVIS_STATEIMAGEMASK));
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12) - 1;
}

void TListView::SetStateImage(int Row, int Image) const {
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(static_cast<UINT>(Image + 1));
    Send(FHandle, LVM_SETITEMSTATE, static_cast<WPARAM>(Row), &item);
}

void TListView::ScrollDownOnePage() const {
    RECT client{};
    GetClientRect(FHandle, &client);
    SendMessageW(FHandle, LVM_SCROLL, 0, client.bottom - client.top);
}

RECT TListView::RowOnScreen(int Row) const {
    RECT row{};
    row.left = LVIR_BOUNDS;
    if (Send(FHandle, LVM_GETITEMRECT, static_cast<WPARAM>(Row), &row) == 0) {
        return {};
    }
    RECT client{};
    GetClientRect(FHandle, &client);
    RECT visible{};
    if (!IntersectRect(&visible, &row, &client)) {
        return {};
    }
    MapWindowPoints(FHandle, nullptr, reinterpret_cast<POINT*>(&visible), 2);
    return visible;
}

}  // namespace benchpad
