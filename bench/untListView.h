#pragma once

// A report-style list view of the bench's windows seen as rows of texts, by its window handle.
// Safe from another thread of the same process while the window's own thread runs its
// messages (the tests read the lists that way).

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace benchpad {

class TListView {
public:
    explicit TListView(HWND Handle) noexcept : FHandle(Handle) {}

    [[nodiscard]] HWND Handle() const noexcept { return FHandle; }

    // Width 0 makes the column fill what the others leave (FitLastColumn keeps it so).
    void AddColumn(std::wstring_view Caption, int Width) const;
    // The last column fills what the others leave; where that is less than its caption needs,
    // it is as wide as its caption and its widest text, to be scrolled to.
    void FitLastColumn() const;
    [[nodiscard]] int ColumnCount() const;
    [[nodiscard]] std::wstring ColumnCaption(int Column) const;

    // Appends a row, and fits the last column to it; its index.
    int Add(const std::vector<std::wstring>& Texts) const;
    [[nodiscard]] int Count() const;
    [[nodiscard]] std::wstring Text(int Row, int Column) const;
    [[nodiscard]] std::vector<std::wstring> Row(int Row) const;
    void Delete(int Row) const;
    void Clear() const;

    // The selected row, -1 without one.
    [[nodiscard]] int Selected() const;
    // Selects and focuses Row, and only it.
    void Select(int Row) const;
    void ClearSelection() const;

    // Index in the state image list of the mark at the start of the row; -1 without a mark.
    [[nodiscard]] int StateImage(int Row) const;
    void SetStateImage(int Row, int Image) const;

    // Down by the height of the client area, which brings a row added last into sight.
    void ScrollDownOnePage() const;

    // Where the row lies in the screen; empty when it lies outside the client area.
    [[nodiscard]] RECT RowOnScreen(int Row) const;

private:
    HWND FHandle;
};

}  // namespace benchpad
