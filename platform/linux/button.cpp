/*
 * button.cpp - the Button class (push buttons and auto radio buttons) and
 * the Static class (left-aligned text), drawn in the classic unthemed look.
 */
#include "platform/linux/user.h"

#include <algorithm>

namespace strellan {

namespace {

bool IsRadio(const Wnd* w)
{
    DWORD type = w->style & BS_TYPEMASK;
    return type == BS_AUTORADIOBUTTON || type == 4 /* BS_RADIOBUTTON */;
}

void Line(::Window xid, unsigned long pixel, int x0, int y0, int x1, int y1)
{
    XSetForeground(g_desktop.dpy, g_desktop.gc, pixel);
    XDrawLine(g_desktop.dpy, xid, g_desktop.gc, x0, y0, x1, y1);
}

/* A 1-pixel frame: top and left in one colour, bottom and right in another. */
void Frame(::Window xid, int x, int y, int w, int h, unsigned long topLeft,
           unsigned long bottomRight)
{
    Line(xid, topLeft, x, y, x + w - 2, y);
    Line(xid, topLeft, x, y, x, y + h - 2);
    Line(xid, bottomRight, x, y + h - 1, x + w - 1, y + h - 1);
    Line(xid, bottomRight, x + w - 1, y, x + w - 1, y + h - 1);
}

/* The dotted rectangle of the keyboard focus. */
void FocusRect(::Window xid, int x, int y, int w, int h)
{
    Display* dpy = g_desktop.dpy;
    XSetForeground(dpy, g_desktop.gc, g_desktop.colours.text);
    XSetLineAttributes(dpy, g_desktop.gc, 0, LineOnOffDash, CapButt, JoinMiter);
    static const char dots[] = {1, 1};
    XSetDashes(dpy, g_desktop.gc, 0, dots, 2);
    XDrawRectangle(dpy, xid, g_desktop.gc, x, y, static_cast<unsigned>(w - 1),
                   static_cast<unsigned>(h - 1));
    XSetLineAttributes(dpy, g_desktop.gc, 0, LineSolid, CapButt, JoinMiter);
}

int TextWidth(const std::string& s)
{
    XGlyphInfo g{};
    XftTextExtentsUtf8(g_desktop.dpy, g_desktop.font, reinterpret_cast<const FcChar8*>(s.data()),
                       static_cast<int>(s.size()), &g);
    return g.xOff;
}

void Text(Wnd* w, const std::string& s, int x, int top)
{
    XftDrawStringUtf8(w->draw, &g_desktop.colours.xftText, g_desktop.font, x,
                      top + g_desktop.font->ascent, reinterpret_cast<const FcChar8*>(s.data()),
                      static_cast<int>(s.size()));
}

void PaintPushButton(Wnd* w)
{
    const Desktop::Colours& c = g_desktop.colours;
    const bool pushed = w->state & BST_PUSHED;
    const bool focused = GetFocusWnd() == w->hwnd && IsActive();
    int x = 0, y = 0, cx = w->cx, cy = w->cy;

    XClearWindow(g_desktop.dpy, w->xid);
    /* The focused push button is the one Enter presses: a black frame, as
       the default button has. */
    if (focused) {
        XSetForeground(g_desktop.dpy, g_desktop.gc, c.text);
        XDrawRectangle(g_desktop.dpy, w->xid, g_desktop.gc, 0, 0, static_cast<unsigned>(cx - 1),
                       static_cast<unsigned>(cy - 1));
        ++x, ++y, cx -= 2, cy -= 2;
    }
    if (pushed) {
        Frame(w->xid, x, y, cx, cy, c.shadow, c.shadow);
    } else {
        Frame(w->xid, x, y, cx, cy, c.highlight, c.darkShadow);
        Frame(w->xid, x + 1, y + 1, cx - 2, cy - 2, c.light, c.shadow);
    }

    int offset = pushed ? 1 : 0;
    int tx = (w->cx - TextWidth(w->text)) / 2 + offset;
    int ty = (w->cy - (g_desktop.font->ascent + g_desktop.font->descent)) / 2 + offset;
    Text(w, w->text, tx, ty);

    if (focused)
        FocusRect(w->xid, 4, 4, w->cx - 8, w->cy - 8);
}

void PaintRadioButton(Wnd* w)
{
    const Desktop::Colours& c = g_desktop.colours;
    Display* dpy = g_desktop.dpy;
    GC gc = g_desktop.gc;
    const int d = 12; /* the classic radio circle */
    const int x = 0, y = std::max(0, (w->cy - d) / 2);

    XClearWindow(dpy, w->xid);
    auto arc = [&](unsigned long pixel, int inset, int from, bool fill) {
        XSetForeground(dpy, gc, pixel);
        unsigned size = static_cast<unsigned>(d - 1 - 2 * inset);
        if (fill)
            XFillArc(dpy, w->xid, gc, x + inset, y + inset, size, size, 0, 360 * 64);
        else
            XDrawArc(dpy, w->xid, gc, x + inset, y + inset, size, size, from * 64, 180 * 64);
    };
    /* Sunken: shadow above, highlight below; the well is window-white, or
       face-grey while the button is held down. */
    arc((w->state & BST_PUSHED) ? c.face : c.window, 1, 0, true);
    arc(c.shadow, 0, 45, false);
    arc(c.highlight, 0, 225, false);
    arc(c.darkShadow, 1, 45, false);
    arc(c.light, 1, 225, false);
    if (w->state & BST_CHECKED) {
        XSetForeground(dpy, gc, c.text);
        XFillArc(dpy, w->xid, gc, x + 4, y + 4, 4, 4, 0, 360 * 64);
    }

    int tx = d + 4;
    if (!w->text.empty())
        Text(w, w->text, tx, (w->cy - (g_desktop.font->ascent + g_desktop.font->descent)) / 2);
    /* A radio button without text still shows where the focus is. */
    if (GetFocusWnd() == w->hwnd && IsActive()) {
        if (w->text.empty())
            FocusRect(w->xid, 0, 0, w->cx, w->cy);
        else
            FocusRect(w->xid, tx - 1, 0, TextWidth(w->text) + 2, w->cy);
    }
}

/* Checks an auto radio button and clears the others of its group. */
void CheckInGroup(Wnd* w)
{
    Wnd* dlg = FromHandle(w->parent);
    if (dlg) {
        std::vector<HWND>& c = dlg->children;
        auto at = std::find(c.begin(), c.end(), w->hwnd);
        auto first = at;
        while (first != c.begin() && !(FromHandle(*first)->style & WS_GROUP))
            --first;
        for (auto it = first; it != c.end(); ++it) {
            Wnd* other = FromHandle(*it);
            if (it != first && (other->style & WS_GROUP))
                break;
            if (other != w && IsRadio(other) && (other->state & BST_CHECKED))
                SendMessageA(other->hwnd, BM_SETCHECK, BST_UNCHECKED, 0);
        }
    }
    SendMessageA(w->hwnd, BM_SETCHECK, BST_CHECKED, 0);
}

/* The click itself: an auto radio button checks itself first; then the
   parent hears BN_CLICKED. */
void Click(Wnd* w)
{
    HWND hwnd = w->hwnd;
    if ((w->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        CheckInGroup(w);
    if (Wnd* still = FromHandle(hwnd))
        SendMessageA(still->parent, WM_COMMAND, MAKEWPARAM(still->id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
}

void SetPushed(Wnd* w, bool pushed)
{
    UINT state = pushed ? (w->state | BST_PUSHED) : (w->state & ~static_cast<UINT>(BST_PUSHED));
    if (state != w->state) {
        w->state = state;
        Repaint(w->hwnd);
    }
}

bool Inside(const Wnd* w, LPARAM lParam)
{
    int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
    return x >= 0 && y >= 0 && x < w->cx && y < w->cy;
}

} // namespace

LRESULT ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Wnd* w = FromHandle(hwnd);

    switch (msg) {
    case WM_PAINT:
        if (IsRadio(w))
            PaintRadioButton(w);
        else
            PaintPushButton(w);
        return 0;

    case WM_GETDLGCODE:
        return IsRadio(w) ? DLGC_BUTTON | DLGC_RADIOBUTTON : DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;

    case WM_LBUTTONDOWN:
        /* Tracking first: a radio button focused by the mouse waits for
           the release to check itself. */
        w->tracking = true;
        SetFocusWnd(hwnd);
        SetPushed(w, true);
        return 0;

    case WM_MOUSEMOVE:
        if (w->tracking)
            SetPushed(w, Inside(w, lParam));
        return 0;

    case WM_LBUTTONUP:
        /* Released outside: no click. */
        if (w->tracking) {
            w->tracking = false;
            bool inside = Inside(w, lParam);
            SetPushed(w, false);
            if (inside)
                Click(w);
        }
        return 0;

    case WM_KEYDOWN:
        if (wParam == VK_SPACE && !(lParam & (1L << 30))) /* not a repeat */
            SetPushed(w, true);
        return 0;

    case WM_KEYUP:
        if (wParam == VK_SPACE && (w->state & BST_PUSHED) && !w->tracking) {
            SetPushed(w, false);
            Click(w);
        }
        return 0;

    case WM_SETFOCUS:
        /* An auto radio button reached by the keyboard checks itself. */
        if ((w->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON && !(w->state & BST_CHECKED) &&
            !w->tracking)
            Click(w);
        if (Wnd* still = FromHandle(hwnd))
            Repaint(still->hwnd);
        return 0;

    case WM_KILLFOCUS:
        w->tracking = false;
        w->state &= ~static_cast<UINT>(BST_PUSHED);
        Repaint(hwnd);
        return 0;

    case BM_GETCHECK:
        return w->state & (BST_CHECKED | 2 /* BST_INDETERMINATE */);

    case BM_SETCHECK:
        if (IsRadio(w)) {
            w->state = (w->state & ~3u) | (wParam ? BST_CHECKED : BST_UNCHECKED);
            /* The checked radio button is the group's tab stop. */
            if (wParam)
                w->style |= WS_TABSTOP;
            else
                w->style &= ~static_cast<DWORD>(WS_TABSTOP);
            Repaint(hwnd);
        }
        return 0;

    case BM_GETSTATE:
        return w->state | (GetFocusWnd() == hwnd ? BST_FOCUS : 0);

    case BM_SETSTATE:
        SetPushed(w, wParam != 0);
        return 0;

    case BM_CLICK:
        SetPushed(w, true);
        SetPushed(w, false);
        Click(w);
        return 0;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Wnd* w = FromHandle(hwnd);

    switch (msg) {
    case WM_PAINT:
        XClearWindow(g_desktop.dpy, w->xid);
        Text(w, w->text, 0, 0);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

} // namespace strellan
