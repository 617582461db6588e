/*
 * window.cpp - windows by handle, focus and activation, and the Win32 calls
 * that act on a window: SendMessageA, ShowWindow, DestroyWindow,
 * CheckDlgButton, IsDlgButtonChecked.
 */
#include "platform/linux/user32/accessible.h"
#include "platform/linux/user32/display.h"
#include "platform/linux/user32/user32.h"

#include <map>
#include <memory>

namespace strellan {

namespace {

/* Handles are small numbers, as on Windows; a destroyed window's handle is
   never reused in a run, so a stale one finds nothing. */
constexpr uintptr_t kFirstHandle = 0x10010;
constexpr uintptr_t kHandleStep = 4;

std::map<HWND, std::unique_ptr<Wnd>> g_windows;
std::map<XWindowId, HWND> g_byXid;
uintptr_t g_nextHandle = kFirstHandle;
HWND g_focus = nullptr;
HWND g_active = nullptr;

/* The classes there are; none for another name, whose window, as in
   Windows, is not made. */
WNDPROC ProcForClass(const std::string& className)
{
    if (className == "Button")
        return ButtonProc;
    if (className == "Static")
        return StaticProc;
    if (className == kDialogClassName)
        return DialogWndProc;
    return nullptr;
}

void DestroyWnd(HWND hwnd)
{
    Wnd* w = FromHandle(hwnd);
    if (!w)
        return;

    if (g_focus == hwnd)
        g_focus = nullptr;
    if (g_active == hwnd)
        g_active = nullptr;
    AccessibleDestroyed(hwnd);
    SendMessageA(hwnd, WM_DESTROY, 0, 0);

    /* Then the children, as Windows does: WM_DESTROY reaches the parent
       first. */
    std::vector<HWND> children = w->children;
    for (HWND child : children)
        DestroyWnd(child);

    if (Wnd* p = FromHandle(w->parent))
        std::erase(p->children, hwnd);
    DestroyXWindow(w);
    g_byXid.erase(w->xid);
    g_windows.erase(hwnd);
}

} // namespace

Wnd* FromHandle(HWND hwnd)
{
    auto it = g_windows.find(hwnd);
    return it == g_windows.end() ? nullptr : it->second.get();
}

Wnd* FromXid(XWindowId xid)
{
    auto it = g_byXid.find(xid);
    return it == g_byXid.end() ? nullptr : FromHandle(it->second);
}

HWND CreateWnd(HWND parent, const std::string& className, const std::string& text, DWORD style,
               int id, Rect rect)
{
    Wnd* p = parent ? FromHandle(parent) : nullptr;
    const WNDPROC proc = ProcForClass(className);
    if (!proc)
        return nullptr;

    auto w = std::make_unique<Wnd>();
    w->hwnd = reinterpret_cast<HWND>(g_nextHandle);
    g_nextHandle += kHandleStep;
    w->parent = p ? parent : nullptr;
    w->proc = proc;
    w->style = style;
    w->id = id;
    w->text = text;
    w->rect = rect;
    /* X has no empty windows. */
    w->rect.width = rect.width > 0 ? rect.width : 1;
    w->rect.height = rect.height > 0 ? rect.height : 1;
    CreateXWindow(w.get(), p);

    HWND hwnd = w->hwnd;
    if (w->xid)
        g_byXid[w->xid] = hwnd;
    g_windows[hwnd] = std::move(w);
    if (p)
        p->children.push_back(hwnd);
    return hwnd;
}

void DestroyAllWindows()
{
    while (!g_windows.empty()) {
        HWND top = g_windows.begin()->first;
        while (Wnd* w = FromHandle(top)) {
            if (!w->parent)
                break;
            top = w->parent;
        }
        DestroyWnd(top);
    }
}

HWND GetDlgItem(HWND hDlg, int id)
{
    Wnd* dlg = FromHandle(hDlg);
    if (!dlg)
        return nullptr;
    for (HWND child : dlg->children)
        if (FromHandle(child)->id == id)
            return child;
    return nullptr;
}

BOOL IsWindow(HWND hwnd)
{
    return FromHandle(hwnd) != nullptr;
}

HWND GetParent(HWND hwnd)
{
    Wnd* w = FromHandle(hwnd);
    return w ? w->parent : nullptr;
}

std::vector<HWND> ChildWindows(HWND hwnd)
{
    Wnd* w = FromHandle(hwnd);
    return w ? w->children : std::vector<HWND>();
}

BOOL IsWindowVisible(HWND hwnd)
{
    for (Wnd* w = FromHandle(hwnd); w; w = FromHandle(w->parent))
        if (!(w->style & WS_VISIBLE))
            return FALSE;
    return IsWindow(hwnd);
}

BOOL IsWindowEnabled(HWND hwnd)
{
    Wnd* w = FromHandle(hwnd);
    return w && !(w->style & WS_DISABLED);
}

std::string GetWindowTextString(HWND hwnd)
{
    const auto length = static_cast<std::size_t>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
    std::string text(length + 1, '\0');
    const auto n =
        SendMessageA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(n));
    return text;
}

HWND GetFocus()
{
    return g_focus;
}

void SetFocus(HWND hwnd)
{
    if (hwnd == g_focus || (hwnd && !FromHandle(hwnd)))
        return;
    HWND old = g_focus;
    g_focus = hwnd;
    if (FromHandle(old))
        SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    if (hwnd && g_focus == hwnd)
        SendMessageA(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    AccessibleFocusChanged(old, g_focus);
}

HWND GetActiveWindow()
{
    return g_active;
}

void SetActiveWindow(HWND hwnd)
{
    if (hwnd == g_active || (hwnd && !FromHandle(hwnd)))
        return;
    AccessibleActiveChanged(g_active, false);
    g_active = hwnd;
    AccessibleActiveChanged(g_active, true);
    /* Focus rectangles show only in the active window. */
    if (g_focus)
        PaintNow(g_focus);
}

void PaintNow(HWND hwnd)
{
    if (FromHandle(hwnd))
        SendMessageA(hwnd, WM_PAINT, 0, 0);
}

} // namespace strellan

using namespace strellan;

extern "C" {

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Wnd* w = FromHandle(hWnd);
    return w ? w->proc(hWnd, Msg, wParam, lParam) : 0;
}

/* The stand-in's start-up code passes SW_SHOWNORMAL: every mode shows. */
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    (void)nCmdShow;
    Wnd* w = FromHandle(hWnd);
    if (!w)
        return FALSE;
    BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
    w->style |= WS_VISIBLE;
    MapXWindow(w);
    return wasVisible;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    if (!FromHandle(hWnd))
        return FALSE;
    DestroyWnd(hWnd);
    return TRUE;
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck)
{
    HWND button = GetDlgItem(hDlg, nIDButton);
    if (!button)
        return FALSE;
    SendMessageA(button, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    HWND button = GetDlgItem(hDlg, nIDButton);
    return button ? static_cast<UINT>(SendMessageA(button, BM_GETCHECK, 0, 0)) : 0;
}

} // extern "C"
