/*
 * desktop.cpp - the X connection, the dialog font and the classic colours.
 */
#include "platform/linux/user.h"

#include <X11/Xatom.h>
#include <X11/Xresource.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace strellan {

Desktop g_desktop;

namespace {

/* The "Windows Standard" classic scheme. */
struct Rgb {
    unsigned char r, g, b;
};
constexpr Rgb kFace = {212, 208, 200};
constexpr Rgb kHighlight = {255, 255, 255};
constexpr Rgb kShadow = {128, 128, 128};
constexpr Rgb kDarkShadow = {64, 64, 64};
constexpr Rgb kWindow = {255, 255, 255};
constexpr Rgb kText = {0, 0, 0};

unsigned long Pixel(Rgb c)
{
    XColor xc{};
    xc.red = static_cast<unsigned short>(c.r * 257);
    xc.green = static_cast<unsigned short>(c.g * 257);
    xc.blue = static_cast<unsigned short>(c.b * 257);
    xc.flags = DoRed | DoGreen | DoBlue;
    if (!XAllocColor(g_desktop.dpy, g_desktop.colormap, &xc))
        return BlackPixel(g_desktop.dpy, g_desktop.screen);
    return xc.pixel;
}

/* Dots per inch: Xft.dpi when the desktop sets it, else what the screen's
   size in millimetres says, else 96. */
double ScreenDpi(Display* dpy, int screen)
{
    if (char* rms = XResourceManagerString(dpy)) {
        XrmInitialize();
        XrmDatabase db = XrmGetStringDatabase(rms);
        char* type = nullptr;
        XrmValue value{};
        double dpi = 0;
        if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr)
            dpi = std::atof(value.addr);
        XrmDestroyDatabase(db);
        if (dpi > 0)
            return dpi;
    }
    int mm = DisplayHeightMM(dpy, screen);
    if (mm > 0) {
        double dpi = DisplayHeight(dpy, screen) * 25.4 / mm;
        if (dpi >= 48 && dpi <= 480)
            return dpi;
    }
    return 96.0;
}

/* Lost connection: Xlib calls this after its I/O error handler. Returning
   would let Xlib exit the process; jump back to the message loop instead,
   which then ends as a quit message would. */
std::jmp_buf* g_ioJump = nullptr;

int IgnoreIoError(Display*)
{
    return 0;
}

/* Protocol errors are not fatal here: a request on a window that someone
   else destroyed fails, and the program carries on. */
int IgnoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

void IoErrorExit(Display*, void*)
{
    g_desktop.dead = true;
    if (g_ioJump)
        std::longjmp(*g_ioJump, 1);
    std::fprintf(stderr, "strellan: lost the X connection\n");
    std::_Exit(0);
}

} // namespace

void ArmIoJump(std::jmp_buf* jump)
{
    g_ioJump = jump;
}

bool OpenDesktop()
{
    if (g_desktop.dpy)
        return true;

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "strellan: cannot open X display \"%s\"\n", name ? name : "");
        return false;
    }

    Desktop& d = g_desktop;
    d.dpy = dpy;
    d.screen = DefaultScreen(dpy);
    d.root = RootWindow(dpy, d.screen);
    d.visual = DefaultVisual(dpy, d.screen);
    d.colormap = DefaultColormap(dpy, d.screen);
    XSetIOErrorHandler(IgnoreIoError);
    XSetErrorHandler(IgnoreProtocolError);
    XSetIOErrorExitHandler(dpy, IoErrorExit, nullptr);

    /* "MS Shell Dlg" 8 pt is the desktop's sans-serif face at 8 points. */
    double dpi = ScreenDpi(dpy, d.screen);
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "sans-serif:pixelsize=%.2f",
                  std::round(8.0 * dpi / 72.0));
    d.font = XftFontOpenName(dpy, d.screen, pattern);
    if (!d.font) {
        std::fprintf(stderr, "strellan: no font for \"%s\"\n", pattern);
        XCloseDisplay(dpy);
        d = Desktop{};
        return false;
    }

    /* Dialog base units as Windows computes them: the average width of the
       52 letters, rounded, and the font's height. */
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    XGlyphInfo extents{};
    XftTextExtentsUtf8(dpy, d.font, reinterpret_cast<const FcChar8*>(kLetters),
                       static_cast<int>(std::strlen(kLetters)), &extents);
    d.baseX = (extents.xOff / 26 + 1) / 2;
    d.baseY = d.font->ascent + d.font->descent;

    d.gc = XCreateGC(dpy, d.root, 0, nullptr);
    d.colours.face = Pixel(kFace);
    d.colours.highlight = Pixel(kHighlight);
    d.colours.light = Pixel(kFace);
    d.colours.shadow = Pixel(kShadow);
    d.colours.darkShadow = Pixel(kDarkShadow);
    d.colours.window = Pixel(kWindow);
    d.colours.text = Pixel(kText);
    XRenderColor text = {0, 0, 0, 0xFFFF};
    XftColorAllocValue(dpy, d.visual, d.colormap, &text, &d.colours.xftText);

    d.wmProtocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
    d.wmDeleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    d.netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
    d.netWmIcon = XInternAtom(dpy, "_NET_WM_ICON", False);
    d.netWmPid = XInternAtom(dpy, "_NET_WM_PID", False);
    d.utf8String = XInternAtom(dpy, "UTF8_STRING", False);
    d.motifWmHints = XInternAtom(dpy, "_MOTIF_WM_HINTS", False);

    /* An EWMH window manager announces itself on the root window. */
    Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", True);
    if (check != None) {
        Atom type;
        int format;
        unsigned long n, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(dpy, d.root, check, 0, 1, False, XA_WINDOW, &type, &format, &n,
                               &after, &data) == Success &&
            data) {
            d.windowManager = n == 1;
            XFree(data);
        }
    }
    return true;
}

int DialogUnitsToPixelsX(int du)
{
    return (du * g_desktop.baseX + 2) / 4;
}
int DialogUnitsToPixelsY(int du)
{
    return (du * g_desktop.baseY + 4) / 8;
}

} // namespace strellan
