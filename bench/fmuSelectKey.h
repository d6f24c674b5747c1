#pragma once

#include <string>

#include "driver/diagnostics/SizeableForm.h"

namespace benchpad {

// The dialog the "+" buttons open: the virtual-key codes with their names, one of which the
// tester picks instead of remembering its number.
class TfmSelectKey final : public wedgecard::TSizeableForm {
public:
    // Creates the window, hidden, with the named keys listed and the first one selected
    // (FormCreate).
    explicit TfmSelectKey(HWND Owner = nullptr);

    // Refills the list: every code, or only the named ones while "Только с описанием" is
    // checked. No line is selected afterwards.
    void FillKeyList();

    // The code of the selected line ("#13"); std::runtime_error without a selected line.
    [[nodiscard]] std::string GetSelectedCode() const;

    // What OK took: the code of the line selected when the dialog ended with mrOk.
    [[nodiscard]] const std::string& ChosenCode() const noexcept { return FChosenCode; }

protected:
    LRESULT WindowProc(UINT Message, WPARAM WParam, LPARAM LParam) override;

private:
    // OK, and a double click on a line: takes the selected code; fails without one, and the
    // dialog stays open.
    void btnOKClick();
    void DrawItem(const DRAWITEMSTRUCT& Item) const;

    std::string FChosenCode;
};

// The stored form of TfmSelectKey.
[[nodiscard]] wedgecard::TFormDescription SelectKeyForm();

// Shows the dialog modally over Owner. True with Code set to the chosen code text when it
// ends with OK; false, Code untouched, when it is cancelled or closed.
bool SelectKeyCode(HWND Owner, std::string& Code);

}  // namespace benchpad
