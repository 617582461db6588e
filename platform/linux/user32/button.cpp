/*
 * button.cpp - the Button class: push buttons and radio buttons, drawn in
 * the classic unthemed look. As Windows' button does, it keeps its own
 * state (checked, pushed, focused) and learns of focus only by WM_SETFOCUS
 * and WM_KILLFOCUS.
 */
#include "platform/linux/user32/accessible.h"
#include "platform/linux/user32/display.h"
#include "platform/linux/user32/user32.h"

#include <algorithm>

namespace strellan {

namespace {

/* The classic radio button's circle, and the dot in it, in pixels at 96
   dpi; like every line, scaled with the screen (DrawContext::Scaled). */
constexpr int kRadioDiameter = 12;
constexpr int kRadioDotInset = 4;
constexpr int kRadioDotDiameter = 4;
constexpr int kRadioTextGap = 4;

/* The focus rectangle's inset in a push button, at 96 dpi. */
constexpr int kPushFocusInset = 4;

constexpr UINT kCheckStates = BST_CHECKED | BST_INDETERMINATE;

bool IsRadio(const Wnd* w)
{
    const DWORD type = w->style & BS_TYPEMASK;
    return type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON;
}

bool IsAutoRadio(const Wnd* w)
{
    return (w->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

/* The focus shows only while the dialog has the keyboard. */
bool ShowsFocus(const Wnd* w)
{
    return (w->buttonState & BST_FOCUS) && GetActiveWindow() == w->parent;
}

void PaintPushButton(const DrawContext& dc, const Wnd* w)
{
    const Palette& c = *dc.palette;
    const bool pushed = w->buttonState & BST_PUSHED;
    const bool focused = ShowsFocus(w);
    Rect edge = {0, 0, w->rect.width, w->rect.height};

    ClearBackground(dc);
    /* The focused push button is the one Enter presses: a black frame, as
       the default button has. */
    const int line = dc.Scaled(1);
    if (focused) {
        DrawOutline(dc, edge, c.text);
        edge = Inset(edge, line);
    }
    if (pushed) {
        DrawEdgeFrame(dc, edge, c.shadow, c.shadow);
    } else {
        DrawEdgeFrame(dc, edge, c.highlight, c.darkShadow);
        DrawEdgeFrame(dc, Inset(edge, line), c.light, c.shadow);
    }

    /* The text moves down and right with the press. */
    const int offset = pushed ? line : 0;
    DrawText(dc, (w->rect.width - TextWidth(dc, w->text)) / 2 + offset,
             (w->rect.height - TextHeight(dc)) / 2 + offset, w->text);

    if (focused)
        DrawFocusRect(dc, Inset({0, 0, w->rect.width, w->rect.height}, dc.Scaled(kPushFocusInset)));
}

void PaintRadioButton(const DrawContext& dc, const Wnd* w)
{
    const Palette& c = *dc.palette;
    const int diameter = dc.Scaled(kRadioDiameter), line = dc.Scaled(1);
    const int top = std::max(0, (w->rect.height - diameter) / 2);
    /* The circle's rings, from the outside in, each a line wide. */
    auto circle = [&](int ring) {
        const int inset = ring * line, size = diameter - 1 - 2 * inset;
        return Rect{inset, top + inset, size, size};
    };

    ClearBackground(dc);
    /* Sunken: shadow above, highlight below; the well is window-white, or
       face-grey while the button is held down. */
    FillEllipse(dc, circle(1), (w->buttonState & BST_PUSHED) ? c.face : c.window);
    DrawHalfEllipse(dc, circle(0), 45, c.shadow);
    DrawHalfEllipse(dc, circle(0), 225, c.highlight);
    DrawHalfEllipse(dc, circle(1), 45, c.darkShadow);
    DrawHalfEllipse(dc, circle(1), 225, c.light);
    if (w->buttonState & BST_CHECKED) {
        const int inset = dc.Scaled(kRadioDotInset), size = dc.Scaled(kRadioDotDiameter);
        FillEllipse(dc, {inset, top + inset, size, size}, c.text);
    }

    const int textX = diameter + dc.Scaled(kRadioTextGap);
    if (!w->text.empty())
        DrawText(dc, textX, (w->rect.height - TextHeight(dc)) / 2, w->text);
    /* A radio button without text still shows where the focus is. */
    if (ShowsFocus(w)) {
        if (w->text.empty())
            DrawFocusRect(dc, {0, 0, w->rect.width, w->rect.height});
        else
            DrawFocusRect(dc, {textX - line, 0, TextWidth(dc, w->text) + 2 * line, w->rect.height});
    }
}

void SetButtonState(Wnd* w, UINT state)
{
    if (state == w->buttonState)
        return;
    const bool checkMoved = (state ^ w->buttonState) & BST_CHECKED;
    w->buttonState = state;
    PaintNow(w->hwnd);
    if (checkMoved)
        AccessibleCheckChanged(w->hwnd, state & BST_CHECKED);
}

void SetPushed(Wnd* w, bool pushed)
{
    SetButtonState(w, pushed ? (w->buttonState | BST_PUSHED)
                             : (w->buttonState & ~static_cast<UINT>(BST_PUSHED)));
}

/* Checking an auto radio button clears the others of its group. Once
   round the group: a hidden or disabled button checked by the program is
   not on the walk, which then never comes back to it. */
void UncheckGroupSiblings(Wnd* w)
{
    HWND h = GetNextDlgGroupItem(w->parent, w->hwnd, FALSE);
    for (std::size_t n = FromHandle(w->parent)->children.size(); n > 0 && h && h != w->hwnd;
         --n, h = GetNextDlgGroupItem(w->parent, h, FALSE)) {
        if (IsAutoRadio(FromHandle(h)))
            SendMessageA(h, BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

/* The end of a press, by the mouse's release or Space's: a click when it
   ends on the button. An auto radio button checks itself first; then the
   parent hears BN_CLICKED. */
void Release(Wnd* w, bool onButton)
{
    if (!w->pressing)
        return;
    w->pressing = false;
    const bool wasPushed = w->buttonState & BST_PUSHED;
    SetPushed(w, false);
    if (!wasPushed || !onButton)
        return;

    HWND hwnd = w->hwnd;
    if (IsAutoRadio(w))
        SendMessageA(hwnd, BM_SETCHECK, BST_CHECKED, 0);
    if (Wnd* still = FromHandle(hwnd))
        SendMessageA(still->parent, WM_COMMAND, MAKEWPARAM(still->id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
}

bool Inside(const Wnd* w, LPARAM lParam)
{
    const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
    return x >= 0 && y >= 0 && x < w->rect.width && y < w->rect.height;
}

void Paint(Wnd* w)
{
    if (std::optional<DrawContext> dc = BeginPaint(w)) {
        if (IsRadio(w))
            PaintRadioButton(*dc, w);
        else
            PaintPushButton(*dc, w);
    }
}

LRESULT DialogCodeOf(const Wnd* w)
{
    if (IsRadio(w))
        return DLGC_BUTTON | DLGC_RADIOBUTTON;
    if ((w->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
        return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
    return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
}

/* The X server keeps sending this button the pointer's moves and its
   release until the button goes up: the capture. */
void PressWithMouse(HWND hwnd)
{
    FromHandle(hwnd)->pressing = true;
    SetFocus(hwnd);
    if (Wnd* still = FromHandle(hwnd))
        SetPushed(still, true);
}

/* Space held down on the focused button. */
void PressWithKey(Wnd* w)
{
    w->pressing = true;
    SetPushed(w, true);
}

/* Told by WM_SETFOCUS and WM_KILLFOCUS; a press in progress ends with the
   focus, without a click. */
void SetFocused(Wnd* w, bool focused)
{
    if (focused) {
        SetButtonState(w, w->buttonState | BST_FOCUS);
    } else {
        w->pressing = false;
        SetButtonState(w, w->buttonState & ~static_cast<UINT>(BST_FOCUS | BST_PUSHED));
    }
}

/* A radio button only; the checked one is its group's tab stop. */
void SetCheck(Wnd* w, WPARAM check)
{
    if (!IsRadio(w))
        return;
    if (check)
        w->style |= WS_TABSTOP;
    else
        w->style &= ~static_cast<DWORD>(WS_TABSTOP);
    SetButtonState(w, (w->buttonState & ~kCheckStates) | (check ? BST_CHECKED : BST_UNCHECKED));
    if (check == BST_CHECKED && IsAutoRadio(w))
        UncheckGroupSiblings(w);
}

} // namespace

LRESULT ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Wnd* w = FromHandle(hwnd);

    switch (msg) {
    case WM_PAINT:
        Paint(w);
        return 0;

    case WM_GETDLGCODE:
        return DialogCodeOf(w);

    case WM_LBUTTONDOWN:
        PressWithMouse(hwnd);
        return 0;

    case WM_MOUSEMOVE:
        if (w->pressing)
            SetPushed(w, Inside(w, lParam));
        return 0;

    case WM_LBUTTONUP:
        /* Released off the button: no click. */
        Release(w, Inside(w, lParam));
        return 0;

    case WM_KEYDOWN:
        if (wParam == VK_SPACE)
            PressWithKey(w);
        return 0;

    case WM_KEYUP:
        if (wParam == VK_SPACE)
            Release(w, true);
        return 0;

    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        SetFocused(w, msg == WM_SETFOCUS);
        return 0;

    case BM_GETCHECK:
        return w->buttonState & kCheckStates;

    case BM_SETCHECK:
        SetCheck(w, wParam);
        return 0;

    case BM_GETSTATE:
        return w->buttonState;

    case BM_CLICK:
        /* As the mouse does it: down and up on the button. */
        SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageA(hwnd, WM_LBUTTONUP, 0, 0);
        return 0;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

} // namespace strellan
