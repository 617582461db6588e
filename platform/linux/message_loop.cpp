/*
 * message_loop.cpp - GetMessageA, TranslateMessage and DispatchMessageA over
 * X events: one handler per event type, each turning its event into the
 * message Windows would deliver.
 */
#include "platform/linux/user.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

namespace strellan {

namespace {

unsigned g_keyModifiers = 0;

LPARAM PointParam(int x, int y)
{
    return static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(x, y)));
}

bool Make(MSG* m, HWND hwnd, UINT message, WPARAM w, LPARAM l, Time time)
{
    *m = MSG{};
    m->hwnd = hwnd;
    m->message = message;
    m->wParam = w;
    m->lParam = l;
    m->time = static_cast<DWORD>(time);
    return true;
}

UINT VirtualKey(KeySym sym)
{
    switch (sym) {
    case XK_Tab:
    case XK_ISO_Left_Tab:
        return VK_TAB;
    case XK_Return:
    case XK_KP_Enter:
        return VK_RETURN;
    case XK_Escape:
        return VK_ESCAPE;
    case XK_space:
        return VK_SPACE;
    case XK_Left:
        return VK_LEFT;
    case XK_Up:
        return VK_UP;
    case XK_Right:
        return VK_RIGHT;
    case XK_Down:
        return VK_DOWN;
    case XK_F4:
        return VK_F4;
    }
    return 0;
}

/* Keys go to the window with the focus, or to the dialog when no control
   has it. With Alt held they are system keys, as Alt+F4 is. */
bool OnKey(XKeyEvent& e, MSG* m, bool down)
{
    Wnd* top = FromXid(e.window);
    if (!top)
        return false;
    KeySym sym = XkbKeycodeToKeysym(g_desktop.dpy, static_cast<KeyCode>(e.keycode), 0,
                                    (e.state & ShiftMask) ? 1 : 0);
    UINT vk = VirtualKey(sym);
    if (!vk)
        return false;

    /* Auto-repeat arrives as release + press at the same time: report it as
       a repeated key down, bit 30 set, as Windows does. */
    LPARAM flags = 1;
    if (!down && XEventsQueued(g_desktop.dpy, QueuedAfterReading)) {
        XEvent next;
        XPeekEvent(g_desktop.dpy, &next);
        if (next.type == KeyPress && next.xkey.time == e.time && next.xkey.keycode == e.keycode)
            return false;
    }
    static unsigned s_lastDown = 0;
    if (down && s_lastDown == e.keycode)
        flags |= 1L << 30;
    s_lastDown = down ? e.keycode : 0;

    g_keyModifiers = e.state;
    bool alt = e.state & Mod1Mask;
    if (alt)
        flags |= 1L << 29;
    UINT message = down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
    HWND target = GetFocusWnd() ? GetFocusWnd() : top->hwnd;
    return Make(m, target, message, vk, flags, e.time);
}

bool OnButton(XButtonEvent& e, MSG* m, bool down)
{
    Wnd* w = FromXid(e.window);
    if (!w || e.button != Button1)
        return false;
    return Make(m, w->hwnd, down ? WM_LBUTTONDOWN : WM_LBUTTONUP, down ? MK_LBUTTON : 0,
                PointParam(e.x, e.y), e.time);
}

bool OnMotion(XMotionEvent& e, MSG* m)
{
    Wnd* w = FromXid(e.window);
    if (!w)
        return false;
    return Make(m, w->hwnd, WM_MOUSEMOVE, (e.state & Button1Mask) ? MK_LBUTTON : 0,
                PointParam(e.x, e.y), e.time);
}

bool OnExpose(XExposeEvent& e, MSG* m)
{
    Wnd* w = FromXid(e.window);
    if (!w || e.count > 0)
        return false;
    return Make(m, w->hwnd, WM_PAINT, 0, 0, CurrentTime);
}

/* The window manager's close request: the close box's WM_SYSCOMMAND. */
bool OnClientMessage(XClientMessageEvent& e, MSG* m)
{
    Wnd* w = FromXid(e.window);
    if (!w || e.message_type != g_desktop.wmProtocols || e.format != 32 ||
        static_cast<Atom>(e.data.l[0]) != g_desktop.wmDeleteWindow)
        return false;
    return Make(m, w->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0, CurrentTime);
}

bool OnFocus(XFocusChangeEvent& e, bool in)
{
    Wnd* w = FromXid(e.window);
    if (!w || e.detail == NotifyPointer || e.detail == NotifyInferior)
        return false;
    SetActive(in);
    /* Coming back, the focus returns to the control that last had it. */
    if (in && !GetFocusWnd() && FromHandle(w->lastFocus))
        SetFocusWnd(w->lastFocus);
    return false;
}

/* Without a window manager nobody gives the new window the keyboard: take
   it when it is mapped, as the window manager would on Windows. */
bool OnMap(XMapEvent& e)
{
    if (!g_desktop.windowManager && FromXid(e.window))
        XSetInputFocus(g_desktop.dpy, e.window, RevertToParent, CurrentTime);
    return false;
}

/* Someone else destroyed the window (xdotool windowclose, xkill -id): the
   dialog is gone as if closed, so close it and let the program end. */
bool OnDestroy(XDestroyWindowEvent& e, MSG* m)
{
    Wnd* w = FromXid(e.window);
    if (!w || w->parent)
        return false;
    return Make(m, w->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0, CurrentTime);
}

bool Translate(XEvent& e, MSG* m)
{
    switch (e.type) {
    case KeyPress:
        return OnKey(e.xkey, m, true);
    case KeyRelease:
        return OnKey(e.xkey, m, false);
    case ButtonPress:
        return OnButton(e.xbutton, m, true);
    case ButtonRelease:
        return OnButton(e.xbutton, m, false);
    case MotionNotify:
        return OnMotion(e.xmotion, m);
    case Expose:
        return OnExpose(e.xexpose, m);
    case ClientMessage:
        return OnClientMessage(e.xclient, m);
    case FocusIn:
        return OnFocus(e.xfocus, true);
    case FocusOut:
        return OnFocus(e.xfocus, false);
    case MapNotify:
        return OnMap(e.xmap);
    case DestroyNotify:
        return OnDestroy(e.xdestroywindow, m);
    }
    return false;
}

} // namespace

unsigned KeyModifiers()
{
    return g_keyModifiers;
}

} // namespace strellan

using namespace strellan;

extern "C" {

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    /* The stand-in serves one thread and one window: no filters. */
    if (hWnd != NULL || wMsgFilterMin != 0 || wMsgFilterMax != 0)
        return -1;

    for (;;) {
        if (!g_desktop.dpy || g_desktop.dead)
            break;

        /* A lost connection jumps back here and ends the loop as WM_QUIT. */
        std::jmp_buf jump;
        XEvent e;
        if (setjmp(jump) != 0) {
            ArmIoJump(nullptr);
            break;
        }
        ArmIoJump(&jump);
        XNextEvent(g_desktop.dpy, &e);
        bool translated = Translate(e, lpMsg);
        ArmIoJump(nullptr);
        if (translated)
            return TRUE;
    }

    *lpMsg = MSG{};
    lpMsg->message = WM_QUIT;
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    /* No WM_CHAR: nothing here takes text. */
    (void)lpMsg;
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

} // extern "C"
