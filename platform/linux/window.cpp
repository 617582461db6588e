/*
 * window.cpp - windows by handle, focus, and the Win32 calls that act on a
 * window: SendMessageA, ShowWindow, DestroyWindow, CheckDlgButton,
 * IsDlgButtonChecked.
 */
#include "platform/linux/user.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <map>
#include <memory>
#include <unistd.h>

namespace strellan {

namespace {

/* Handles are small numbers, as on Windows; a destroyed window's handle is
   never reused in a run, so a stale one finds nothing. */
std::map<HWND, std::unique_ptr<Wnd>> g_windows;
std::map<::Window, HWND> g_byXid;
uintptr_t g_nextHandle = 0x10010;
HWND g_focus = nullptr;
bool g_active = false;

WNDPROC ProcForClass(const char* className)
{
    std::string c = className;
    if (c == "Button")
        return ButtonProc;
    if (c == "Static")
        return StaticProc;
    return DialogWndProc;
}

void SetWmHints(Wnd* w)
{
    Desktop& d = g_desktop;

    XStoreName(d.dpy, w->xid, w->text.c_str());
    XChangeProperty(d.dpy, w->xid, d.netWmName, d.utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(w->text.data()),
                    static_cast<int>(w->text.size()));

    XClassHint cls = {const_cast<char*>("strellan"), const_cast<char*>("Strellan")};
    XSetClassHint(d.dpy, w->xid, &cls);

    /* Fixed size at the top-left corner of the screen. */
    XSizeHints* size = XAllocSizeHints();
    size->flags = PPosition | USPosition | PMinSize | PMaxSize | PWinGravity;
    size->x = size->y = 0;
    size->min_width = size->max_width = w->cx;
    size->min_height = size->max_height = w->cy;
    size->win_gravity = NorthWestGravity;
    XSetWMNormalHints(d.dpy, w->xid, size);
    XFree(size);

    XWMHints* hints = XAllocWMHints();
    hints->flags = InputHint | StateHint;
    hints->input = True;
    hints->initial_state = NormalState;
    XSetWMHints(d.dpy, w->xid, hints);
    XFree(hints);

    XSetWMProtocols(d.dpy, w->xid, &d.wmDeleteWindow, 1);

    long pid = static_cast<long>(getpid());
    XChangeProperty(d.dpy, w->xid, d.netWmPid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);

    /* A caption with the close box only: no maximise, no resize. */
    enum { MWM_HINTS_FUNCTIONS = 1, MWM_HINTS_DECORATIONS = 2 };
    enum { MWM_FUNC_MOVE = 4, MWM_FUNC_CLOSE = 32 };
    enum { MWM_DECOR_BORDER = 2, MWM_DECOR_TITLE = 8, MWM_DECOR_MENU = 16 };
    long motif[5] = {MWM_HINTS_FUNCTIONS | MWM_HINTS_DECORATIONS, MWM_FUNC_MOVE | MWM_FUNC_CLOSE,
                     MWM_DECOR_BORDER | MWM_DECOR_TITLE | MWM_DECOR_MENU, 0, 0};
    XChangeProperty(d.dpy, w->xid, d.motifWmHints, d.motifWmHints, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(motif), 5);
}

} // namespace

Wnd* FromHandle(HWND hwnd)
{
    auto it = g_windows.find(hwnd);
    return it == g_windows.end() ? nullptr : it->second.get();
}

Wnd* FromXid(::Window xid)
{
    auto it = g_byXid.find(xid);
    return it == g_byXid.end() ? nullptr : FromHandle(it->second);
}

HWND CreateWnd(HWND parent, const char* className, const std::string& text, DWORD style, int id,
               int x, int y, int cx, int cy)
{
    Desktop& d = g_desktop;
    Wnd* p = parent ? FromHandle(parent) : nullptr;

    auto w = std::make_unique<Wnd>();
    w->hwnd = reinterpret_cast<HWND>(g_nextHandle);
    g_nextHandle += 4;
    w->parent = parent;
    w->proc = ProcForClass(className);
    w->className = className;
    w->style = style;
    w->id = id;
    w->text = text;
    w->x = x;
    w->y = y;
    w->cx = cx > 0 ? cx : 1;
    w->cy = cy > 0 ? cy : 1;

    XSetWindowAttributes a{};
    a.background_pixel = d.colours.face;
    a.bit_gravity = NorthWestGravity;
    a.event_mask = ExposureMask;
    if (!p)
        a.event_mask |= KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask;
    else if (w->proc == ButtonProc)
        a.event_mask |= ButtonPressMask | ButtonReleaseMask | Button1MotionMask;
    w->xid = XCreateWindow(d.dpy, p ? p->xid : d.root, x, y, static_cast<unsigned>(w->cx),
                           static_cast<unsigned>(w->cy), 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWBackPixel | CWBitGravity | CWEventMask, &a);
    w->draw = XftDrawCreate(d.dpy, w->xid, d.visual, d.colormap);
    if (!p)
        SetWmHints(w.get());
    else if (style & WS_VISIBLE)
        XMapWindow(d.dpy, w->xid);

    HWND hwnd = w->hwnd;
    g_byXid[w->xid] = hwnd;
    g_windows[hwnd] = std::move(w);
    if (p)
        p->children.push_back(hwnd);
    return hwnd;
}

void DestroyWnd(HWND hwnd)
{
    Wnd* w = FromHandle(hwnd);
    if (!w)
        return;

    if (g_focus == hwnd)
        g_focus = nullptr;
    SendMessageA(hwnd, WM_DESTROY, 0, 0);

    /* Children first: their X windows go with the parent's. */
    std::vector<HWND> children = w->children;
    for (HWND child : children)
        DestroyWnd(child);

    if (Wnd* p = FromHandle(w->parent))
        std::erase(p->children, hwnd);
    if (w->draw)
        XftDrawDestroy(w->draw);
    if (!g_desktop.dead && !w->parent) {
        XDestroyWindow(g_desktop.dpy, w->xid); /* the controls' X windows go with it */
        XFlush(g_desktop.dpy);
    }
    g_byXid.erase(w->xid);
    g_windows.erase(hwnd);
}

HWND GetFocusWnd()
{
    return g_focus;
}

bool IsActive()
{
    return g_active;
}

void SetActive(bool active)
{
    if (active == g_active)
        return;
    g_active = active;
    /* Focus rectangles show only in the active window. */
    if (g_focus)
        Repaint(g_focus);
}

void SetFocusWnd(HWND hwnd)
{
    if (hwnd == g_focus || (hwnd && !FromHandle(hwnd)))
        return;
    HWND old = g_focus;
    g_focus = hwnd;
    if (old && FromHandle(old))
        SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    if (hwnd) {
        Wnd* w = FromHandle(hwnd);
        if (Wnd* dlg = FromHandle(w->parent))
            dlg->lastFocus = hwnd;
        SendMessageA(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    }
}

void Repaint(HWND hwnd)
{
    if (FromHandle(hwnd) && !g_desktop.dead)
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

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Wnd* w = FromHandle(hWnd);
    if (!w)
        return FALSE;
    BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
    if (nCmdShow == SW_HIDE) {
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        XUnmapWindow(g_desktop.dpy, w->xid);
    } else {
        w->style |= WS_VISIBLE;
        XMapWindow(g_desktop.dpy, w->xid);
    }
    XFlush(g_desktop.dpy);
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
    Wnd* dlg = FromHandle(hDlg);
    if (!dlg)
        return FALSE;
    for (HWND child : dlg->children)
        if (FromHandle(child)->id == nIDButton) {
            SendMessageA(child, BM_SETCHECK, uCheck, 0);
            return TRUE;
        }
    return FALSE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    Wnd* dlg = FromHandle(hDlg);
    if (!dlg)
        return 0;
    for (HWND child : dlg->children)
        if (FromHandle(child)->id == nIDButton)
            return static_cast<UINT>(SendMessageA(child, BM_GETCHECK, 0, 0));
    return 0;
}

} // extern "C"
