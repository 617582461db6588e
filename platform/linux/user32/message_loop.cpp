/*
 * message_loop.cpp - GetMessageA, TranslateMessage and DispatchMessageA over
 * X events: one handler per event type, each turning its event into the
 * message Windows would deliver, or into none.
 */
#include "platform/linux/user32/accessible.h"
#include "platform/linux/user32/display.h"
#include "platform/linux/user32/keyboard.h"
#include "platform/linux/user32/user32.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <glib.h>

#include <array>
#include <deque>
#include <optional>
#include <vector>

namespace strellan {

namespace {

MSG Message(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Time time)
{
    return MakeMessage(hwnd, message, wParam, lParam, static_cast<DWORD>(time));
}

LPARAM PointParam(int x, int y)
{
    return static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(x, y)));
}

/* The keys the dialog manager acts on; 0 for the rest. */
UINT VirtualKey(KeySym sym)
{
    switch (sym) {
    case XK_Tab:
    case XK_ISO_Left_Tab: /* Shift+Tab */
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

/* Where the server cannot leave out auto-repeat's releases, a held key
   arrives as release and press at the same moment: the release is none. */
bool IsAutoRepeatRelease(const XKeyEvent& release)
{
    if (!XEventsQueued(g_desktop.dpy, QueuedAfterReading))
        return false;
    XEvent next;
    XPeekEvent(g_desktop.dpy, &next);
    return next.type == KeyPress && next.xkey.time == release.time &&
           next.xkey.keycode == release.keycode;
}

/* Keys go to the window with the focus, or to the dialog when no control
   has it. */
std::optional<MSG> OnKey(const XEvent& event)
{
    const XKeyEvent& e = event.xkey;
    const bool down = e.type == KeyPress;
    Wnd* top = FromXid(e.window);
    if (!top)
        return std::nullopt;
    const KeySym sym = XkbKeycodeToKeysym(g_desktop.dpy, static_cast<KeyCode>(e.keycode), 0,
                                          (e.state & ShiftMask) ? 1 : 0);
    const UINT vk = VirtualKey(sym);
    if (!vk || (!down && !g_desktop.detectableAutoRepeat && IsAutoRepeatRelease(e)))
        return std::nullopt;

    KeyboardState& keyboard = ThreadKeyboard();
    keyboard.SetModifiers(e.state & ShiftMask, e.state & Mod1Mask);
    HWND target = GetFocus() ? GetFocus() : top->hwnd;
    return keyboard.KeyMessage(target, vk, down, static_cast<DWORD>(e.time));
}

std::optional<MSG> OnButton(const XEvent& event)
{
    const XButtonEvent& e = event.xbutton;
    const bool down = e.type == ButtonPress;
    Wnd* w = FromXid(e.window);
    if (!w || e.button != Button1)
        return std::nullopt;
    return Message(w->hwnd, down ? WM_LBUTTONDOWN : WM_LBUTTONUP, down ? MK_LBUTTON : 0,
                   PointParam(e.x, e.y), e.time);
}

std::optional<MSG> OnMotion(const XEvent& event)
{
    const XMotionEvent& e = event.xmotion;
    Wnd* w = FromXid(e.window);
    if (!w)
        return std::nullopt;
    return Message(w->hwnd, WM_MOUSEMOVE, (e.state & Button1Mask) ? MK_LBUTTON : 0,
                   PointParam(e.x, e.y), e.time);
}

/* The last of a run of exposures paints the window whole. */
std::optional<MSG> OnExpose(const XEvent& event)
{
    const XExposeEvent& e = event.xexpose;
    Wnd* w = FromXid(e.window);
    if (!w || e.count > 0)
        return std::nullopt;
    return Message(w->hwnd, WM_PAINT, 0, 0, CurrentTime);
}

/* The window manager's close request: the close box's WM_SYSCOMMAND. */
std::optional<MSG> OnClientMessage(const XEvent& event)
{
    const XClientMessageEvent& e = event.xclient;
    Wnd* w = FromXid(e.window);
    if (!w || e.message_type != g_desktop.wmProtocols || e.format != 32 ||
        static_cast<Atom>(e.data.l[0]) != g_desktop.wmDeleteWindow)
        return std::nullopt;
    return Message(w->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0, CurrentTime);
}

/* The dialog gaining or losing the keyboard: its focus rectangle shows or
   goes. */
std::optional<MSG> OnFocus(const XEvent& event)
{
    const XFocusChangeEvent& e = event.xfocus;
    Wnd* w = FromXid(e.window);
    if (w && e.detail != NotifyPointer && e.detail != NotifyInferior)
        SetActiveWindow(e.type == FocusIn ? w->hwnd : nullptr);
    return std::nullopt;
}

/* Without a window manager nobody gives the new window the keyboard: take
   it when it is mapped, as the window manager would on Windows. */
std::optional<MSG> OnMap(const XEvent& event)
{
    const XMapEvent& e = event.xmap;
    if (!g_desktop.windowManager && FromXid(e.window))
        XSetInputFocus(g_desktop.dpy, e.window, RevertToParent, CurrentTime);
    return std::nullopt;
}

/* Someone else destroyed the window (xdotool windowclose, xkill -id): the
   dialog is gone as if closed, so close it and let the program end. */
std::optional<MSG> OnDestroy(const XEvent& event)
{
    const XDestroyWindowEvent& e = event.xdestroywindow;
    Wnd* w = FromXid(e.window);
    if (!w || w->parent)
        return std::nullopt;
    return Message(w->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0, CurrentTime);
}

/* One handler per event type, as dwm has them. */
using EventHandler = std::optional<MSG> (*)(const XEvent&);

constexpr auto kHandlers = [] {
    std::array<EventHandler, LASTEvent> h{};
    h[KeyPress] = h[KeyRelease] = OnKey;
    h[ButtonPress] = h[ButtonRelease] = OnButton;
    h[MotionNotify] = OnMotion;
    h[Expose] = OnExpose;
    h[ClientMessage] = OnClientMessage;
    h[FocusIn] = h[FocusOut] = OnFocus;
    h[MapNotify] = OnMap;
    h[DestroyNotify] = OnDestroy;
    return h;
}();

std::optional<MSG> EventToMessage(const XEvent& e)
{
    if (e.type < 0 || e.type >= LASTEvent || !kHandlers[static_cast<std::size_t>(e.type)])
        return std::nullopt;
    return kHandlers[static_cast<std::size_t>(e.type)](e);
}

/* Messages posted to the loop: the accessibility bus's clicks. */
std::deque<MSG> g_posted;

/* With the accessibility bus joined (or the session bus asked whether to
   join it), GLib's main context runs here too: the loop waits on the X
   connection and GLib's descriptors together, and dispatches what GLib has
   to do (the bus's requests), until X has an event or something was
   posted. Without it, XNextEvent waits alone. */
void WaitForXOrGlib()
{
    GMainContext* context = g_main_context_default();
    /* Owned while it waits, so that a source that another thread attaches
       (GDBus's replies and signals) wakes the poll. */
    if (!g_main_context_acquire(context))
        return;
    std::vector<GPollFD> fds(8);
    while (!XPending(g_desktop.dpy) && g_posted.empty()) {
        gint priority = 0, timeout = -1;
        g_main_context_prepare(context, &priority);
        gint n;
        while ((n = g_main_context_query(context, priority, &timeout, fds.data(),
                                         static_cast<gint>(fds.size()) - 1)) >=
               static_cast<gint>(fds.size()))
            fds.resize(static_cast<std::size_t>(n) + 1);
        fds[static_cast<std::size_t>(n)] = {ConnectionNumber(g_desktop.dpy), G_IO_IN, 0};
        g_poll(fds.data(), static_cast<guint>(n + 1), timeout);
        g_main_context_check(context, priority, fds.data(), n);
        g_main_context_dispatch(context);
    }
    g_main_context_release(context);
}

/* The next message: a posted one, or one an X event makes. The connection
   can be lost in any Xlib call here: in the wait or in what a handler asks
   of the server. Then Xlib's fatal I/O handler jumps back to the setjmp,
   which the jump covers from the wait up to the handler's return and no
   further: nothing in this region owns resources that a jump would leak.
   Losing it later, in the middle of dispatching a message, ends the
   process there (see display.cpp), since no jump can go back into the
   program's own code. */
std::optional<MSG> NextMessage()
{
    for (;;) {
        if (!g_posted.empty()) {
            MSG m = g_posted.front();
            g_posted.pop_front();
            return m;
        }
        if (!g_desktop.dpy || g_desktop.connectionLost)
            return std::nullopt;

        std::jmp_buf jump;
        if (setjmp(jump) != 0) {
            SetConnectionLostJump(nullptr);
            return std::nullopt;
        }
        SetConnectionLostJump(&jump);
        if (AccessibilityListening())
            WaitForXOrGlib();
        std::optional<MSG> m;
        if (g_posted.empty()) {
            XEvent e;
            XNextEvent(g_desktop.dpy, &e);
            m = EventToMessage(e);
        }
        SetConnectionLostJump(nullptr);
        if (m)
            return m;
    }
}

} // namespace

void PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    g_posted.push_back(MakeMessage(hwnd, msg, wParam, lParam));
}

} // namespace strellan

using namespace strellan;

extern "C" {

/* A lost connection ends the loop as the quit message would. */
BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    /* The stand-in serves one thread and one window: no filters. */
    if (hWnd != NULL || wMsgFilterMin != 0 || wMsgFilterMax != 0)
        return -1;

    if (std::optional<MSG> m = NextMessage()) {
        *lpMsg = *m;
        return TRUE;
    }
    *lpMsg = MakeMessage(nullptr, WM_QUIT, 0, 0);
    return FALSE;
}

/* Makes no WM_CHAR: nothing in the dialog takes text. */
BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    (void)lpMsg;
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

} // extern "C"
