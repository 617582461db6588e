/*
 * navigation.cpp - the dialog's keyboard interface: IsDialogMessageA (Tab
 * and Shift+Tab, the arrow keys, Enter, Esc) over the one walk through the
 * controls, GetNextDlgTabItem and GetNextDlgGroupItem.
 */
#include "platform/linux/user32/user32.h"

#include <algorithm>

namespace strellan {

namespace {

bool CanTakeFocus(const Wnd* w)
{
    return (w->style & (WS_VISIBLE | WS_DISABLED)) == WS_VISIBLE;
}

/* The next control in creation order from `at`, forwards or backwards,
   wrapping round inside [first, last]. */
std::size_t Step(std::size_t at, std::size_t first, std::size_t last, bool previous)
{
    if (previous)
        return at == first ? last : at - 1;
    return at == last ? first : at + 1;
}

std::size_t IndexOf(const Wnd* dlg, HWND child)
{
    return static_cast<std::size_t>(std::find(dlg->children.begin(), dlg->children.end(), child) -
                                    dlg->children.begin());
}

/* The first control at or after `from` that passes `wanted`, stepping
   through [first, last] once round; null when none does. */
template <typename Wanted>
HWND Walk(const Wnd* dlg, std::size_t from, std::size_t first, std::size_t last, bool previous,
          Wanted wanted)
{
    std::size_t at = from;
    for (std::size_t n = first; n <= last; ++n) {
        HWND h = dlg->children[at];
        if (wanted(FromHandle(h)))
            return h;
        at = Step(at, first, last, previous);
    }
    return nullptr;
}

UINT DialogCode(HWND hwnd, WPARAM vk)
{
    return static_cast<UINT>(SendMessageA(hwnd, WM_GETDLGCODE, vk, 0));
}

/* The arrow keys: the next control of the focused one's group, past the
   labels (which take no focus). A radio button gets the focus and, if it
   is an auto radio button not yet checked, a click, which checks it. */
void MoveInGroup(HWND hDlg, HWND focus, bool previous)
{
    HWND next = GetNextDlgGroupItem(hDlg, focus, previous);
    for (std::size_t n = FromHandle(hDlg)->children.size();
         n > 0 && next && next != focus && (DialogCode(next, 0) & DLGC_STATIC); --n)
        next = GetNextDlgGroupItem(hDlg, next, previous);
    if (!next || next == focus)
        return;

    if (DialogCode(next, 0) == (DLGC_BUTTON | DLGC_RADIOBUTTON)) {
        SetFocus(next);
        if ((FromHandle(next)->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
            SendMessageA(next, BM_GETCHECK, 0, 0) != BST_CHECKED)
            SendMessageA(next, BM_CLICK, 0, 0);
    } else {
        SendMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
    }
}

bool IsDialogOrChild(HWND hDlg, HWND hwnd)
{
    Wnd* w = FromHandle(hwnd);
    return w && (hwnd == hDlg || w->parent == hDlg);
}

} // namespace

HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious)
{
    Wnd* dlg = FromHandle(hDlg);
    if (!dlg || dlg->children.empty())
        return nullptr;
    const std::size_t last = dlg->children.size() - 1;
    const std::size_t at = IndexOf(dlg, hCtl);
    /* With no control to start from: the first tab stop, or the last. */
    std::size_t from = bPrevious ? last : 0;
    if (at <= last)
        from = Step(at, 0, last, bPrevious);
    return Walk(dlg, from, 0, last, bPrevious,
                [](const Wnd* w) { return CanTakeFocus(w) && (w->style & WS_TABSTOP); });
}

HWND GetNextDlgGroupItem(HWND hDlg, HWND hCtl, BOOL bPrevious)
{
    Wnd* dlg = FromHandle(hDlg);
    if (!dlg || dlg->children.empty())
        return nullptr;
    const std::vector<HWND>& c = dlg->children;
    std::size_t at = IndexOf(dlg, hCtl);
    if (at == c.size())
        at = 0; /* no control given: the first one's group */

    std::size_t first = at;
    while (first > 0 && !(FromHandle(c[first])->style & WS_GROUP))
        --first;
    std::size_t last = at;
    while (last + 1 < c.size() && !(FromHandle(c[last + 1])->style & WS_GROUP))
        ++last;

    HWND next = Walk(dlg, Step(at, first, last, bPrevious), first, last, bPrevious, CanTakeFocus);
    return next ? next : c[at];
}

} // namespace strellan

using namespace strellan;

extern "C" {

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg)
{
    if (!IsDialogOrChild(hDlg, lpMsg->hwnd))
        return FALSE;

    if (lpMsg->message == WM_KEYDOWN) {
        HWND focus = GetFocus();
        const UINT code = focus ? DialogCode(focus, lpMsg->wParam) : 0;
        switch (lpMsg->wParam) {
        case VK_TAB:
            if (!(code & DLGC_WANTTAB)) {
                const bool back = GetKeyState(VK_SHIFT) < 0;
                SendMessageA(hDlg, WM_NEXTDLGCTL, back, FALSE);
                return TRUE;
            }
            break;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
            if (focus && !(code & DLGC_WANTARROWS)) {
                MoveInGroup(hDlg, focus, lpMsg->wParam == VK_LEFT || lpMsg->wParam == VK_UP);
                return TRUE;
            }
            break;
        case VK_ESCAPE:
            SendCommand(hDlg, IDCANCEL, GetDlgItem(hDlg, IDCANCEL));
            return TRUE;
        case VK_RETURN:
            /* There is no default button: Enter presses the focused push
               button, or else it is IDOK. */
            if (focus && (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
                SendCommand(hDlg, FromHandle(focus)->id, focus);
            else
                SendCommand(hDlg, IDOK, GetDlgItem(hDlg, IDOK));
            return TRUE;
        }
    }

    /* Everything else (Space among it) goes to the window it is for. */
    TranslateMessage(lpMsg);
    DispatchMessageA(lpMsg);
    return TRUE;
}

} // extern "C"
