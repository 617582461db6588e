/*
 * user32.h - the inside of the dialog manager: windows by handle with a
 * window procedure per class, focus, the keyboard state, and the dialog
 * navigation walk. Everything here runs on the program's one thread.
 */
#ifndef STRELLAN_PLATFORM_LINUX_USER32_USER32_H
#define STRELLAN_PLATFORM_LINUX_USER32_USER32_H

#include "platform/linux/res/dialog_template.h"
#include "platform/win32.h"

#include <string>
#include <vector>

/* Messages, codes, styles and keys of Win32 beyond win32.h's, which the
   dialog manager deals in. */
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_NEXTDLGCTL 0x0028
#define WM_GETDLGCODE 0x0087

#define BS_RADIOBUTTON 0x00000004L
#define WS_DISABLED 0x08000000L

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
#define VK_SHIFT 0x10
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_F4 0x73

/* A key message's lParam: the repeat count in the low word, these flags in
   the high word. */
#define KF_ALTDOWN 0x2000
#define KF_REPEAT 0x4000
#define KF_UP 0x8000

#define MK_LBUTTON 0x0001

typedef short SHORT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

/* Xft's, kept opaque here so that X's macros (None, Bool) stay out of
   everything that includes this. */
typedef struct _XftDraw XftDraw;

namespace strellan {

/* An X window's ID (X's Window, an XID). */
typedef unsigned long XWindowId;

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

/* Pixels, in the parent's client area. */
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

/* One window: the dialog or one of its controls. With a display open each
   has an X window of its own, so that the X server routes clicks and
   exposures to it; without one (the unit tests) it has none. */
struct Wnd {
    HWND hwnd = nullptr;
    HWND parent = nullptr; /* null for the dialog */
    WNDPROC proc = nullptr;
    DWORD style = 0;
    int id = 0;
    Rect rect;
    std::string text;
    std::vector<HWND> children; /* creation order: the tab and z order */

    XWindowId xid = 0;
    XftDraw* xftDraw = nullptr;

    /* Button: the BST_ bits, and whether a press (the mouse's or Space's) is
       in progress, which the release completes. */
    UINT buttonState = BST_UNCHECKED;
    bool pressing = false;

    /* Dialog. */
    DLGPROC dlgProc = nullptr;
    HICON bigIcon = nullptr;
};

/* Dialog base units (the dialog font's average character width and its
   height) and the conversions that MapDialogRect makes with them. */
struct BaseUnits {
    int x = 0, y = 0;
    int ToPixelsX(int du) const { return (du * x + 2) / 4; }
    int ToPixelsY(int du) const { return (du * y + 4) / 8; }
};

/* Windows by handle: null for a handle that is not, or no longer, a
   window. Handles are never reused in a run. */
Wnd* FromHandle(HWND hwnd);
Wnd* FromXid(XWindowId xid);
HWND CreateWnd(HWND parent, const std::string& className, const std::string& text, DWORD style,
               int id, Rect rect);
HWND GetDlgItem(HWND hDlg, int id);
void DestroyAllWindows();

/* What a window is, asked by handle as Win32 asks it, for those that watch
   the dialog manager from outside (accessibility). GetParent is null for
   the dialog; the children come in creation order, the tab and z order;
   visible means the window and its parent are. GetWindowRect is on the
   screen, from the X server while a display is open. */
BOOL IsWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
std::vector<HWND> ChildWindows(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsWindowEnabled(HWND hwnd);
BOOL GetWindowRect(HWND hwnd, RECT* rect);
std::string GetWindowTextString(HWND hwnd); /* by WM_GETTEXTLENGTH and WM_GETTEXT */

/* Builds the dialog and its controls from a template, calls the dialog
   procedure with WM_INITDIALOG and gives the focus to the first tab stop
   when it answers TRUE. X windows come only with an open display. */
HWND CreateDialogFromTemplate(const DialogTemplate& t, DLGPROC proc, LPARAM param, BaseUnits units);

/* Focus and activation, as SetFocus, GetFocus and the active window are. */
HWND GetFocus();
void SetFocus(HWND hwnd);
HWND GetActiveWindow();
void SetActiveWindow(HWND hwnd); /* null: the dialog lost the keyboard */

/* The thread's keyboard state; see keyboard.h. */
SHORT GetKeyState(int vk);

/* The walk behind every keyboard move, with Win32's semantics: the next
   (or previous) visible, enabled control with WS_TABSTOP, wrapping round;
   and the next (or previous) visible, enabled control of hCtl's group (from
   a WS_GROUP control up to the next), wrapping round inside it. */
HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious);
HWND GetNextDlgGroupItem(HWND hDlg, HWND hCtl, BOOL bPrevious);

/* A control's command to its dialog, as a click sends it: WM_COMMAND with
   BN_CLICKED, from control (null when the dialog has none by that id). */
void SendCommand(HWND hDlg, int id, HWND control);

/* The class procedures; the dialog's class is Windows' own name for it. */
constexpr const char* kDialogClassName = "#32770";
LRESULT ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DialogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

/* A message as the queue holds it; time in milliseconds, the X server's
   clock (0 for a message that no event brought). */
inline MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD time = 0)
{
    MSG m{};
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = time;
    return m;
}

/* Queues a message for the message loop, as PostMessage does; GetMessageA
   returns posted messages before the X events. */
void PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

/* Paints the window now, as UpdateWindow does for an invalidated one. */
void PaintNow(HWND hwnd);

/* WM_SETICON's effect on the desktop: the window manager's icon. */
void ShowWindowIcon(Wnd* w);

} // namespace strellan

#endif
