#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wedgecard {

// Edges of its parent that a control keeps its distance to when the parent changes size. With
// both edges of a direction the control stretches; with neither its centre keeps its relative
// place.
enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = unsigned;

enum class TBorderStyle {
    // Sizing frame: the stored size is corrected for the system's frame metrics on creation.
    Sizeable,
    // Fixed dialog frame: the stored size is taken as it is.
    Dialog,
};

enum class TFormPosition { Designed, ScreenCenter };

// Results of a modal form.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// Limits of the window's outer size; 0 leaves a limit open.
struct TSizeConstraints {
    int MinWidth = 0;
    int MinHeight = 0;
    int MaxWidth = 0;
    int MaxHeight = 0;
};

// One control as the form designer stored it. Positions are pixels of a 96-dpi screen.
struct TControlDescription {
    std::string Name{};
    // A system window class: L"BUTTON", L"EDIT", L"STATIC", a common control's class.
    std::wstring ClassName{};
    // Windows-1251, like every narrow text of this program.
    std::string Caption{};
    // In the client area of Parent. A label (STATIC) stored without a size is as large as its
    // caption in the form's font, and a little larger; it lies under the other controls.
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    TAnchors Anchors = akLeft | akTop;
    // Place among the tab stops of the same parent, from 0; -1 for a control without one.
    int TabOrder = -1;
    // Added to WS_CHILD | WS_VISIBLE (and WS_TABSTOP with a tab order).
    DWORD Style = 0;
    DWORD ExStyle = 0;
    // Name of the control it lies in (a group box, a page); empty for the form itself.
    //
    // A control that lies in a tab control (WC_TABCONTROLW) is one of its pages: its Caption
    // is the text of its tab, it fills the tab control's display area whatever its stored
    // place and size, and the controls that lie in it are visible exactly while its tab is
    // the selected one. A page's ClassName and Style are not used.
    std::string Parent{};
    // A push button with a result ends its modal form with that result when clicked.
    int ModalResult = mrNone;
    // The push button that Enter presses (drawn as the default one), and the one that Escape
    // presses. In a form with a default button, Enter presses the push button that has the
    // focus, if one has it.
    bool Default = false;
    bool Cancel = false;
    // Background of an edit or a label as a system colour index (COLOR_BTNFACE...); -1 for
    // the usual one, which is the window colour for every edit, read-only ones included.
    int Color = -1;
};

struct TFormDescription {
    std::string Name{};
    std::string Caption{};
    // The outer size as stored.
    int Width = 0;
    int Height = 0;
    // The client area the controls were laid out in; anchored controls follow the difference
    // between it and the client area the window really gets.
    int ClientWidth = 0;
    int ClientHeight = 0;
    TBorderStyle BorderStyle = TBorderStyle::Sizeable;
    TFormPosition Position = TFormPosition::ScreenCenter;
    TSizeConstraints Constraints{};
    bool MinimizeBox = true;
    bool MaximizeBox = true;
    std::wstring FontName = L"MS Sans Serif";
    int FontHeight = -11;
    // In their stored order; a parent comes before the controls that lie in it.
    std::vector<TControlDescription> Controls{};
};

// The base of every window of the driver and the bench: a top-level window built from its
// stored description, with the size corrected for the system's frame metrics, anchored
// controls, size constraints, a modal loop and EnableButtons.
//
// All controls are children of the form's window whatever their Parent: a group box or a tab
// control would not pass its children's notifications on. Parent only sets where a control
// lies and whose size it follows.
class TSizeableForm {
public:
    // Creates the window, hidden. Owner, when given, is the window the form belongs to: the
    // form stays above it, and a modal form disables it. Raises std::runtime_error when the
    // system refuses a window.
    explicit TSizeableForm(TFormDescription Description, HWND Owner = nullptr);
    TSizeableForm(const TSizeableForm&) = delete;
    TSizeableForm& operator=(const TSizeableForm&) = delete;
    virtual ~TSizeableForm();

    [[nodiscard]] HWND Handle() const noexcept { return FHandle; }
    [[nodiscard]] const TFormDescription& Description() const noexcept { return FDescription; }

    // The window of a control; raises std::invalid_argument for a name the form does not have.
    [[nodiscard]] HWND Control(std::string_view Name) const;

    // Texts in Windows-1251.
    [[nodiscard]] std::string Caption() const;
    void SetCaption(std::string_view Text);
    [[nodiscard]] std::string Text(std::string_view Name) const;
    void SetText(std::string_view Name, std::string_view Text);

    // Check boxes and radio buttons.
    [[nodiscard]] bool Checked(std::string_view Name) const;
    void SetChecked(std::string_view Name, bool Value);

    // The selected page of a tab control, by name; and the selection of a page, which shows
    // the controls that lie in it and hides those of the other pages.
    [[nodiscard]] std::string ActivePage(std::string_view TabControl) const;
    void SetActivePage(std::string_view Page);

    // A free number per control; EnableButtons keeps its record there.
    [[nodiscard]] int Tag(std::string_view Name) const;
    void SetTag(std::string_view Name, int Value);

    // Runs when the button is clicked, before its modal result takes effect.
    void SetOnClick(std::string_view Name, std::function<void()> Handler);

    // Shows the form modeless.
    void Show();

    // The form's keyboard interface for a message just retrieved, in place of IsDialogMessage
    // (which it calls): Tab, the arrows, Enter and Escape, and Ctrl+Tab, Ctrl+Shift+Tab,
    // Ctrl+PgDn and Ctrl+PgUp, which turn the pages of a tab control. True when the message
    // was such a key and must not be dispatched.
    bool IsFormMessage(MSG& Message);

    // Shows the form, disables its owner and runs the thread's messages until the form gets a
    // modal result; then enables the owner again and hides the form. WM_QUIT ends it with
    // mrCancel and is posted again for the loop outside. Raises std::logic_error when the form
    // is visible already.
    int ShowModal();

    [[nodiscard]] int ModalResult() const noexcept { return FModalResult; }
    void SetModalResult(int Value) noexcept { FModalResult = Value; }

    // What the close box does: a modal form ends with mrCancel, a modeless one is hidden.
    virtual void Close();

    // Disables every enabled push button and remembers which ones (their Tag becomes 1) and
    // whether one of them had the keyboard focus; enabling undoes exactly that, so buttons
    // disabled by other means stay disabled, and gives the focus back.
    virtual void EnableButtons(bool Enable);

protected:
    // The form's window procedure; an override passes what it does not handle on to this one.
    virtual LRESULT WindowProc(UINT Message, WPARAM WParam, LPARAM LParam);

    // An error raised while the window handled a message. It cannot travel on through the
    // system's dispatch: the form shows it in a message box.
    virtual void HandleException(const std::exception& Error);

private:
    struct TControl {
        TControlDescription Description;
        HWND Handle = nullptr;
        int Parent = -1;  // index in FControls; -1 for the form
        int Page = -1;    // for a page, its tab's index in the tab control
        bool Container = false;
        bool FitsItsText = false;  // a label sized by the form
        RECT Bounds{};             // where it lies now, in the form's client area
        int Tag = 0;
        std::function<void()> OnClick;
    };
    struct TFontDeleter {
        void operator()(HFONT Font) const noexcept { DeleteObject(Font); }
    };

    static LRESULT CALLBACK FormProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

    void CreateControls();
    void CreateControl(TControl& Control, int Id);
    void FitCaptions();
    [[nodiscard]] int CaptionWidth(const TControl& Control) const;
    void MakeRoom(std::size_t Control, int Right, const std::vector<int>& StoredLeft);
    void MoveRight(std::size_t Control, int Left, const std::vector<int>& StoredLeft);
    bool TurnPage(int Step);
    [[nodiscard]] int FindTabControl() const;
    [[nodiscard]] bool LiesOn(std::size_t Control, int Container) const;
    [[nodiscard]] int DefaultButtonId() const;
    void Click(std::size_t Control);
    void AlignControls();
    void ShowSelectedPages();
    [[nodiscard]] bool IsPage(const TControl& Control) const noexcept;
    [[nodiscard]] bool OnSelectedPages(const TControl& Control) const;
    void ConstrainSize(int& Width, int& Height) const noexcept;
    void RestoreFocus();
    void Command(WPARAM WParam, LPARAM LParam);
    void EnableButtonsIn(int Parent, bool Enable);
    [[nodiscard]] bool IsPushButton(const TControl& Control) const;
    [[nodiscard]] TControl& Find(std::string_view Name);
    [[nodiscard]] const TControl& Find(std::string_view Name) const;

    TFormDescription FDescription;
    HWND FHandle = nullptr;
    std::unique_ptr<std::remove_pointer_t<HFONT>, TFontDeleter> FFont;
    std::vector<TControl> FControls;  // parents before their children, siblings in tab order
    HWND FFocusedButton = nullptr;
    HWND FSavedFocus = nullptr;  // the focus to return to when the form is activated again
    int FModalResult = mrNone;
    bool FModal = false;
};

// Narrow texts of this program are Windows-1251 (the code page its Russian texts are written
// in); windows take UTF-16.
[[nodiscard]] std::wstring WideText(std::string_view Text);
[[nodiscard]] std::string NarrowText(std::wstring_view Text);

}  // namespace wedgecard
