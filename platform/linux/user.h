/*
 * user.h - the inside of the Linux stand-in for the dialog manager: windows
 * with handles and per-class window procedures, a message queue fed by X
 * events, and the X connection they draw on.
 */
#ifndef STRELLAN_PLATFORM_LINUX_USER_H
#define STRELLAN_PLATFORM_LINUX_USER_H

#include "platform/win32.h"

#include <X11/Xlib.h>
#include <X11/Xft/Xft.h>

#include <csetjmp>
#include <string>
#include <vector>

/* Messages, codes and keys beyond what the program itself names. */
#define WM_GETDLGCODE 0x0087
#define WM_NEXTDLGCTL 0x0028
#define SC_CLOSE 0xF060
#define DLGC_WANTARROWS 0x0001
#define DLGC_WANTTAB 0x0002
#define DLGC_DEFPUSHBUTTON 0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_RADIOBUTTON 0x0040
#define DLGC_STATIC 0x0100
#define DLGC_BUTTON 0x2000
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_F4 0x73
#define MK_LBUTTON 0x0001

namespace strellan {

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

/* One window: the dialog or one of its controls. Each is an X window of its
   own, so the X server routes clicks and exposures to it. */
struct Wnd {
    HWND hwnd = nullptr;
    HWND parent = nullptr; /* null for the dialog */
    WNDPROC proc = nullptr;
    std::string className;
    DWORD style = 0;
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0; /* pixels, in the parent's client area */
    std::string text;
    ::Window xid = 0;
    XftDraw* draw = nullptr;
    std::vector<HWND> children; /* creation order: tab and z order */

    /* Button state (BM_GETSTATE's bits) and the mouse tracking of a click. */
    UINT state = BST_UNCHECKED;
    bool tracking = false;

    /* Dialog only. */
    DLGPROC dlgProc = nullptr;
    HWND lastFocus = nullptr;
    HICON bigIcon = nullptr;
};

/* The X connection and what is drawn with it. */
struct Desktop {
    Display* dpy = nullptr;
    int screen = 0;
    ::Window root = 0;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    XftFont* font = nullptr;
    int baseX = 0, baseY = 0; /* dialog base units: average char width, height */
    GC gc = nullptr;
    bool windowManager = false;
    bool dead = false; /* the connection was lost */
    Atom wmProtocols = 0, wmDeleteWindow = 0, netWmName = 0, netWmIcon = 0, utf8String = 0,
         netWmPid = 0, motifWmHints = 0;
    struct Colours {
        unsigned long face, highlight, light, shadow, darkShadow, window, text;
        XftColor xftText;
    } colours{};
};

extern Desktop g_desktop;

/* Opens the display and the dialog font once; false, after a line on
   standard error, when there is no display. */
bool OpenDesktop();

/* Where a lost connection jumps to; null when nothing is armed. */
void ArmIoJump(std::jmp_buf* jump);

/* Dialog units to pixels, as MapDialogRect does. */
int DialogUnitsToPixelsX(int du);
int DialogUnitsToPixelsY(int du);

/* Windows by handle; null for a handle that is not (or no longer) a window. */
Wnd* FromHandle(HWND hwnd);
Wnd* FromXid(::Window xid);
HWND CreateWnd(HWND parent, const char* className, const std::string& text, DWORD style, int id,
               int x, int y, int cx, int cy);
void DestroyWnd(HWND hwnd);

/* Focus, as SetFocus and GetFocus do. */
HWND GetFocusWnd();
void SetFocusWnd(HWND hwnd);
bool IsActive(); /* the top-level window has the keyboard focus */
void SetActive(bool active);

/* The class procedures. */
LRESULT ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DialogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

/* Paints the window again now. */
void Repaint(HWND hwnd);

/* The modifier state of the key event being handled (X state mask). */
unsigned KeyModifiers();

/* Sets the window's _NET_WM_ICON from its big icon. */
void SetWindowIcon(Wnd* w);

/* Embedded resources. */
struct ResourceBytes {
    const unsigned char* data;
    size_t size;
};
ResourceBytes EmbeddedRes();

} // namespace strellan

#endif
