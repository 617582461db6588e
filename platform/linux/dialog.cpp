/*
 * dialog.cpp - the dialog manager: a dialog built from its template, the
 * dialog's default window procedure, and IsDialogMessageA's keyboard
 * interface (Tab, the arrow keys, Enter, Esc).
 */
#include "platform/linux/dialog_template.h"
#include "platform/linux/user.h"

#include <X11/keysym.h>

namespace strellan {

namespace {

bool IsTabStop(const Wnd* w)
{
    return (w->style & (WS_TABSTOP | WS_VISIBLE)) == (WS_TABSTOP | WS_VISIBLE);
}

UINT DlgCode(HWND hwnd, WPARAM vk = 0)
{
    return static_cast<UINT>(SendMessageA(hwnd, WM_GETDLGCODE, vk, 0));
}

/* The next (or previous) tab stop after `from` among the dialog's controls
   in creation order, wrapping round; the first one when from is none. */
HWND NextTabItem(Wnd* dlg, HWND from, bool previous)
{
    const std::vector<HWND>& c = dlg->children;
    const int n = static_cast<int>(c.size());
    int start = -1;
    for (int i = 0; i < n; ++i)
        if (c[static_cast<size_t>(i)] == from)
            start = i;
    if (start < 0)
        start = previous ? 0 : n - 1;
    for (int step = 1; step <= n; ++step) {
        int i = ((start + (previous ? -step : step)) % n + n) % n;
        if (IsTabStop(FromHandle(c[static_cast<size_t>(i)])))
            return c[static_cast<size_t>(i)];
    }
    return nullptr;
}

/* The group around `from`: from the control with WS_GROUP at or before it up
   to the next one with WS_GROUP. */
std::vector<HWND> GroupOf(Wnd* dlg, HWND from)
{
    const std::vector<HWND>& c = dlg->children;
    size_t at = 0;
    while (at < c.size() && c[at] != from)
        ++at;
    if (at == c.size())
        return {};
    size_t first = at;
    while (first > 0 && !(FromHandle(c[first])->style & WS_GROUP))
        --first;
    std::vector<HWND> group;
    for (size_t i = first; i < c.size(); ++i) {
        if (i > first && (FromHandle(c[i])->style & WS_GROUP))
            break;
        group.push_back(c[i]);
    }
    return group;
}

/* The arrow keys move among the buttons of the focused control's group. */
HWND NextGroupButton(Wnd* dlg, HWND from, bool previous)
{
    std::vector<HWND> group;
    for (HWND h : GroupOf(dlg, from))
        if ((DlgCode(h) & DLGC_BUTTON) && (FromHandle(h)->style & WS_VISIBLE))
            group.push_back(h);
    const int n = static_cast<int>(group.size());
    for (int i = 0; i < n; ++i)
        if (group[static_cast<size_t>(i)] == from)
            return group[static_cast<size_t>(((i + (previous ? -1 : 1)) % n + n) % n)];
    return nullptr;
}

void SendCommand(HWND dlg, int id, HWND control)
{
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

bool IsOwnWindow(HWND dlg, HWND hwnd)
{
    Wnd* w = FromHandle(hwnd);
    return w && (hwnd == dlg || w->parent == dlg);
}

} // namespace

/* The dialog class's window procedure: the program's dialog procedure
   first, then the default handling for what it answers FALSE. */
LRESULT DialogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Wnd* w = FromHandle(hwnd);
    if (w->dlgProc && w->dlgProc(hwnd, msg, wParam, lParam))
        return TRUE;
    if (!FromHandle(hwnd))
        return FALSE; /* the procedure destroyed the dialog */

    switch (msg) {
    case WM_CLOSE:
        /* The close box, Alt+F4 and the window manager's close request. */
        SendCommand(hwnd, IDCANCEL, nullptr);
        return 0;
    case WM_NEXTDLGCTL:
        if (lParam)
            SetFocusWnd(reinterpret_cast<HWND>(wParam));
        else
            SetFocusWnd(NextTabItem(w, GetFocusWnd(), wParam != 0));
        return 0;
    case WM_PAINT:
        return 0; /* the background is the face colour */
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    Wnd* w = FromHandle(hwnd);
    HWND top = w->parent ? w->parent : hwnd;

    switch (msg) {
    case WM_SYSKEYDOWN:
        if (wParam == VK_F4)
            SendMessageA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SETICON: {
        HICON old = w->bigIcon;
        if (wParam == ICON_BIG) {
            w->bigIcon = reinterpret_cast<HICON>(lParam);
            SetWindowIcon(w);
        }
        return reinterpret_cast<LRESULT>(old);
    }
    }
    return 0;
}

} // namespace strellan

using namespace strellan;

extern "C" {

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    (void)hInstance;
    (void)hWndParent;
    if (!IS_INTRESOURCE(lpTemplateName))
        return NULL;

    ResourceBytes res = EmbeddedRes();
    std::optional<Bytes> bytes =
        FindResource(Bytes(res.data, res.size), RES_TYPE_DIALOG,
                     static_cast<std::uint16_t>(reinterpret_cast<uintptr_t>(lpTemplateName)));
    if (!bytes)
        return NULL;
    std::optional<DialogTemplate> t = ParseDialogTemplate(*bytes);
    if (!t || !OpenDesktop())
        return NULL;

    HWND hDlg = CreateWnd(nullptr, "#32770", t->title, t->style & ~static_cast<DWORD>(WS_VISIBLE),
                          0, DialogUnitsToPixelsX(t->x), DialogUnitsToPixelsY(t->y),
                          DialogUnitsToPixelsX(t->cx), DialogUnitsToPixelsY(t->cy));
    for (const DialogItemTemplate& item : t->items) {
        int left = DialogUnitsToPixelsX(item.x);
        int top = DialogUnitsToPixelsY(item.y);
        CreateWnd(hDlg, item.className.c_str(), item.text, item.style, item.id, left, top,
                  DialogUnitsToPixelsX(item.x + item.cx) - left,
                  DialogUnitsToPixelsY(item.y + item.cy) - top);
    }

    Wnd* dlg = FromHandle(hDlg);
    dlg->dlgProc = lpDialogFunc;
    HWND first = NextTabItem(dlg, nullptr, false);
    if (SendMessageA(hDlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), dwInitParam) &&
        FromHandle(hDlg))
        SetFocusWnd(first);
    if (FromHandle(hDlg) && (t->style & WS_VISIBLE))
        ShowWindow(hDlg, SW_SHOWNORMAL);
    return FromHandle(hDlg) ? hDlg : NULL;
}

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg)
{
    if (!IsOwnWindow(hDlg, lpMsg->hwnd))
        return FALSE;
    Wnd* dlg = FromHandle(hDlg);

    if (lpMsg->message == WM_KEYDOWN) {
        HWND focus = GetFocusWnd();
        UINT code = focus ? DlgCode(focus, lpMsg->wParam) : 0;
        switch (lpMsg->wParam) {
        case VK_TAB:
            if (!(code & DLGC_WANTTAB)) {
                SendMessageA(hDlg, WM_NEXTDLGCTL, (KeyModifiers() & ShiftMask) ? 1 : 0, 0);
                return TRUE;
            }
            break;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
            if (focus && !(code & DLGC_WANTARROWS)) {
                bool previous = lpMsg->wParam == VK_LEFT || lpMsg->wParam == VK_UP;
                if (HWND next = NextGroupButton(dlg, focus, previous))
                    SendMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), 1);
                return TRUE;
            }
            break;
        case VK_ESCAPE:
            SendCommand(hDlg, IDCANCEL, nullptr);
            return TRUE;
        case VK_RETURN:
            /* No default button: Enter presses the focused push button, or
               else it is IDOK. */
            if (focus && (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
                SendCommand(hDlg, FromHandle(focus)->id, focus);
            else
                SendCommand(hDlg, IDOK, nullptr);
            return TRUE;
        }
    }

    TranslateMessage(lpMsg);
    DispatchMessageA(lpMsg);
    return TRUE;
}

} // extern "C"
