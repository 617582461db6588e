/*
 * dialog.cpp - dialogs from templates (CreateDialogParamA), the dialog
 * class's window procedure, and the default window procedure.
 */
#include "platform/linux/res/program_res.h"
#include "platform/linux/user32/accessible.h"
#include "platform/linux/res/res_file.h"
#include "platform/linux/user32/display.h"
#include "platform/linux/user32/user32.h"

namespace strellan {

namespace {

/* The dialog window class's name, as Windows has it. */

Rect ToPixels(BaseUnits units, int x, int y, int cx, int cy)
{
    const int left = units.ToPixelsX(x), top = units.ToPixelsY(y);
    return {left, top, units.ToPixelsX(x + cx) - left, units.ToPixelsY(y + cy) - top};
}

} // namespace

void SendCommand(HWND hDlg, int id, HWND control)
{
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

HWND CreateDialogFromTemplate(const DialogTemplate& t, DLGPROC proc, LPARAM param, BaseUnits units)
{
    /* The dialog's client area and the controls, in base units. */
    HWND hDlg =
        CreateWnd(nullptr, kDialogClassName, t.title, t.style & ~static_cast<DWORD>(WS_VISIBLE), 0,
                  ToPixels(units, t.x, t.y, t.cx, t.cy));
    /* A control of a class there is not fails the dialog, as in Windows. */
    for (const DialogItemTemplate& item : t.items)
        if (!CreateWnd(hDlg, item.className, item.text, item.style, item.id,
                       ToPixels(units, item.x, item.y, item.cx, item.cy))) {
            DestroyWindow(hDlg);
            return nullptr;
        }

    FromHandle(hDlg)->dlgProc = proc;
    AccessibleDialogCreated(hDlg);
    HWND first = GetNextDlgTabItem(hDlg, nullptr, FALSE);
    if (SendMessageA(hDlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) &&
        FromHandle(hDlg))
        SetFocus(first);
    if (FromHandle(hDlg) && (t.style & WS_VISIBLE))
        ShowWindow(hDlg, SW_SHOWNORMAL);
    return FromHandle(hDlg) ? hDlg : nullptr;
}

/* The dialog class's window procedure: the program's dialog procedure
   first, then the default handling of what it answers FALSE. */
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
        SendCommand(hwnd, IDCANCEL, GetDlgItem(hwnd, IDCANCEL));
        return 0;
    case WM_NEXTDLGCTL:
        /* lParam TRUE: wParam is the control; else wParam says which way. */
        if (lParam)
            SetFocus(reinterpret_cast<HWND>(wParam));
        else
            SetFocus(GetNextDlgTabItem(hwnd, GetFocus(), wParam != 0));
        return 0;
    case WM_PAINT:
        return 0; /* the background is the face colour */
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
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
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(w->text.size());
    case WM_GETTEXT: {
        /* As Windows does: as much as fits, always terminated; the count
           copied. */
        const auto room = static_cast<std::size_t>(wParam);
        if (room == 0)
            return 0;
        const std::size_t n = std::min(w->text.size(), room - 1);
        char* out = reinterpret_cast<char*>(lParam);
        w->text.copy(out, n);
        out[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_SETICON: {
        HICON old = w->bigIcon;
        if (wParam == ICON_BIG) {
            w->bigIcon = reinterpret_cast<HICON>(lParam);
            ShowWindowIcon(w);
        }
        return reinterpret_cast<LRESULT>(old);
    }
    }
    return 0;
}

} // namespace strellan

using namespace strellan;

extern "C" {

/* Dialogs from the program's own resources, by number. */
HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    (void)hInstance;
    (void)hWndParent;
    if (!IS_INTRESOURCE(lpTemplateName))
        return NULL;

    const auto id = static_cast<std::uint16_t>(reinterpret_cast<uintptr_t>(lpTemplateName));
    std::optional<Bytes> bytes = FindResource(ProgramResources(), RES_TYPE_DIALOG, id);
    if (!bytes)
        return NULL;
    std::optional<DialogTemplate> t = ParseDialogTemplate(*bytes);
    if (!t || !OpenDesktop() || !OpenDialogFont(*t))
        return NULL;
    StartAccessibility();
    return CreateDialogFromTemplate(*t, lpDialogFunc, dwInitParam, g_desktop.baseUnits);
}

} // extern "C"
