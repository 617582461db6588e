/*
 * display.h - the X connection and what the windows are made and drawn
 * with: the dialog font and its base units, the classic colours, the
 * atoms, and the X side of each window.
 */
#ifndef STRELLAN_PLATFORM_LINUX_USER32_DISPLAY_H
#define STRELLAN_PLATFORM_LINUX_USER32_DISPLAY_H

#include "platform/linux/res/icon.h"
#include "platform/linux/user32/draw.h"
#include "platform/linux/user32/user32.h"

#include <X11/Xlib.h>

#include <csetjmp>
#include <optional>

namespace strellan {

struct Desktop {
    Display* dpy = nullptr;
    int screen = 0;
    ::Window root = 0;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    GC gc = nullptr;
    XftFont* font = nullptr;
    BaseUnits baseUnits;
    double scale = 1.0; /* dots per inch over 96 */
    Palette palette{};
    bool windowManager = false;        /* an EWMH window manager runs */
    bool detectableAutoRepeat = false; /* held keys repeat without releases */
    bool connectionLost = false;
    Atom wmProtocols = 0, wmDeleteWindow = 0, netWmName = 0, netWmIcon = 0, utf8String = 0,
         netWmPid = 0, motifWmHints = 0;
};

/* The one connection; dpy is null until OpenDesktop succeeds. */
extern Desktop g_desktop;

/* Opens the display once; false, after one line on standard error, when
   there is none. */
bool OpenDesktop();

/* The dialog font that the template names (or "MS Shell Dlg" 8 pt) at the
   screen's resolution, and the base units it gives, opened once; false,
   after one line on standard error, when there is none. */
bool OpenDialogFont(const DialogTemplate& t);

/* Whether the root window has the property, of any type (a window
   manager's check window, the accessibility bus's address). */
bool RootWindowHas(const char* property);

/* Where Xlib's fatal I/O error (the connection lost) jumps to; null when
   no jump is armed. */
void SetConnectionLostJump(std::jmp_buf* jump);

/* The X side of a window: created with it when a display is open, mapped
   with WS_VISIBLE, and gone with it. A top-level window gets the window
   manager's hints: title, class, fixed size at its place, the close box. */
void CreateXWindow(Wnd* w, Wnd* parent);
void DestroyXWindow(Wnd* w);
void MapXWindow(Wnd* w);

/* _NET_WM_ICON from the image. */
void SetXWindowIcon(Wnd* w, const IconImage& icon);

/* What the window is drawn with; nothing without an X window. */
std::optional<DrawContext> BeginPaint(Wnd* w);

} // namespace strellan

#endif
