/*
 * display.cpp - the X connection opened once for every window: the
 * dialog font, the colours, the window manager's atoms, and the
 * connection's loss.
 */
#include "platform/linux/user32/display.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

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

/* Windows' logical dialog faces, which name no font of their own: here the
   desktop's sans-serif, as Windows maps them to its own sans serif face. A
   template without a font gets "MS Shell Dlg" 8 pt too. */
constexpr const char* kLogicalFaces[] = {"MS Shell Dlg", "MS Shell Dlg 2"};
constexpr const char* kLogicalFaceFamily = "sans-serif";
constexpr int kDefaultPoints = 8;
constexpr int kNormalWeight = 400; /* FW_NORMAL */
constexpr double kPointsPerInch = 72.0;
constexpr double kDefaultDpi = 96.0;

/* The motif hints: a caption with the close box only, no maximise, no
   resize. */
enum { MWM_HINTS_FUNCTIONS = 1, MWM_HINTS_DECORATIONS = 2 };
enum { MWM_FUNC_MOVE = 4, MWM_FUNC_CLOSE = 32 };
enum { MWM_DECOR_BORDER = 2, MWM_DECOR_TITLE = 8, MWM_DECOR_MENU = 16 };
constexpr int kMotifHintsLength = 5;

unsigned long Pixel(Display* dpy, Colormap colormap, int screen, Rgb c)
{
    XColor xc{};
    xc.red = static_cast<unsigned short>(c.r * 257);
    xc.green = static_cast<unsigned short>(c.g * 257);
    xc.blue = static_cast<unsigned short>(c.b * 257);
    xc.flags = DoRed | DoGreen | DoBlue;
    if (!XAllocColor(dpy, colormap, &xc))
        return BlackPixel(dpy, screen);
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
    return kDefaultDpi;
}

/* Dialog base units as Windows computes them: the average width of the
   52 letters, rounded, and the font's height. */
BaseUnits FontBaseUnits(Display* dpy, XftFont* font)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    XGlyphInfo extents{};
    XftTextExtentsUtf8(dpy, font, reinterpret_cast<const FcChar8*>(kLetters),
                       static_cast<int>(std::strlen(kLetters)), &extents);
    return {(extents.xOff / 26 + 1) / 2, font->ascent + font->descent};
}

/* A lost connection: Xlib calls IoErrorExit after its I/O error handler.
   Returning would let Xlib exit the process; jump back to the message loop
   instead, which then ends as a quit message would. */
std::jmp_buf* g_connectionLostJump = nullptr;

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
    g_desktop.connectionLost = true;
    if (g_connectionLostJump)
        std::longjmp(*g_connectionLostJump, 1);
    /* Lost outside the wait for events, in the middle of a message: there
       is no way back into the program's loop from here. */
    std::fprintf(stderr, "strellan: lost the X connection\n");
    std::_Exit(0);
}

/* At exit: the windows still there, then what was opened for them. With
   the connection lost, Xlib drops the requests and frees the memory. */
void CloseDesktop()
{
    Desktop& d = g_desktop;
    DestroyAllWindows();
    XftColorFree(d.dpy, d.visual, d.colormap, &d.palette.xftText);
    XftFontClose(d.dpy, d.font);
    XFreeGC(d.dpy, d.gc);
    XCloseDisplay(d.dpy);
    d = Desktop{};
    /* Xft's fonts came from fontconfig, which keeps its configuration and
       caches until told that nobody needs them any more. */
    FcFini();
}

void SetTopLevelHints(Wnd* w)
{
    Desktop& d = g_desktop;

    XStoreName(d.dpy, w->xid, w->text.c_str());
    XChangeProperty(d.dpy, w->xid, d.netWmName, d.utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(w->text.data()),
                    static_cast<int>(w->text.size()));

    XClassHint cls = {const_cast<char*>("strellan"), const_cast<char*>("Strellan")};
    XSetClassHint(d.dpy, w->xid, &cls);

    /* Fixed size at its place, the top-left corner of the screen. */
    XSizeHints* size = XAllocSizeHints();
    size->flags = PPosition | USPosition | PMinSize | PMaxSize | PWinGravity;
    size->x = w->rect.x;
    size->y = w->rect.y;
    size->min_width = size->max_width = w->rect.width;
    size->min_height = size->max_height = w->rect.height;
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

    long motif[kMotifHintsLength] = {MWM_HINTS_FUNCTIONS | MWM_HINTS_DECORATIONS,
                                     MWM_FUNC_MOVE | MWM_FUNC_CLOSE,
                                     MWM_DECOR_BORDER | MWM_DECOR_TITLE | MWM_DECOR_MENU, 0, 0};
    XChangeProperty(d.dpy, w->xid, d.motifWmHints, d.motifWmHints, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(motif), kMotifHintsLength);
}

/* The classic colours, as pixels and as Xft's text colour. */
void AllocatePalette(Desktop& d)
{
    Palette& p = d.palette;
    p.face = Pixel(d.dpy, d.colormap, d.screen, kFace);
    p.highlight = Pixel(d.dpy, d.colormap, d.screen, kHighlight);
    p.light = p.face;
    p.shadow = Pixel(d.dpy, d.colormap, d.screen, kShadow);
    p.darkShadow = Pixel(d.dpy, d.colormap, d.screen, kDarkShadow);
    p.window = Pixel(d.dpy, d.colormap, d.screen, kWindow);
    p.text = Pixel(d.dpy, d.colormap, d.screen, kText);
    XRenderColor text = {static_cast<unsigned short>(kText.r * 257),
                         static_cast<unsigned short>(kText.g * 257),
                         static_cast<unsigned short>(kText.b * 257), 0xFFFF};
    XftColorAllocValue(d.dpy, d.visual, d.colormap, &text, &p.xftText);
}

/* The window manager's protocols and properties that the windows use. */
void InternAtoms(Desktop& d)
{
    d.wmProtocols = XInternAtom(d.dpy, "WM_PROTOCOLS", False);
    d.wmDeleteWindow = XInternAtom(d.dpy, "WM_DELETE_WINDOW", False);
    d.netWmName = XInternAtom(d.dpy, "_NET_WM_NAME", False);
    d.netWmIcon = XInternAtom(d.dpy, "_NET_WM_ICON", False);
    d.netWmPid = XInternAtom(d.dpy, "_NET_WM_PID", False);
    d.utf8String = XInternAtom(d.dpy, "UTF8_STRING", False);
    d.motifWmHints = XInternAtom(d.dpy, "_MOTIF_WM_HINTS", False);
}

} // namespace

void SetConnectionLostJump(std::jmp_buf* jump)
{
    g_connectionLostJump = jump;
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

    d.scale = ScreenDpi(dpy, d.screen) / kDefaultDpi;

    /* A held key repeats as presses alone, without a release between them
       that would end a press of Space (where the server allows it). */
    Bool supported = False;
    XkbSetDetectableAutoRepeat(dpy, True, &supported);
    d.detectableAutoRepeat = supported;

    d.gc = XCreateGC(dpy, d.root, 0, nullptr);
    AllocatePalette(d);
    InternAtoms(d);
    d.windowManager = RootWindowHas("_NET_SUPPORTING_WM_CHECK");
    std::atexit(CloseDesktop);
    return true;
}

void CreateXWindow(Wnd* w, Wnd* parent)
{
    Desktop& d = g_desktop;
    if (!d.dpy || d.connectionLost)
        return;

    XSetWindowAttributes a{};
    a.background_pixel = d.palette.face;
    a.bit_gravity = NorthWestGravity;
    a.event_mask = ExposureMask;
    if (!parent)
        a.event_mask |= KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask;
    else if (w->proc == ButtonProc)
        a.event_mask |= ButtonPressMask | ButtonReleaseMask | Button1MotionMask;
    w->xid = XCreateWindow(d.dpy, parent ? parent->xid : d.root, w->rect.x, w->rect.y,
                           static_cast<unsigned>(w->rect.width),
                           static_cast<unsigned>(w->rect.height), 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWBackPixel | CWBitGravity | CWEventMask, &a);
    w->xftDraw = XftDrawCreate(d.dpy, w->xid, d.visual, d.colormap);
    if (!parent)
        SetTopLevelHints(w);
    else if (w->style & WS_VISIBLE)
        XMapWindow(d.dpy, w->xid);
}

void DestroyXWindow(Wnd* w)
{
    Desktop& d = g_desktop;
    if (!w->xid)
        return;
    if (w->xftDraw)
        XftDrawDestroy(w->xftDraw);
    w->xftDraw = nullptr;
    /* The controls' X windows go with the dialog's. */
    if (!d.connectionLost && !w->parent) {
        XDestroyWindow(d.dpy, w->xid);
        XFlush(d.dpy);
    }
}

void MapXWindow(Wnd* w)
{
    if (!w->xid || g_desktop.connectionLost)
        return;
    XMapWindow(g_desktop.dpy, w->xid);
    XFlush(g_desktop.dpy);
}

void SetXWindowIcon(Wnd* w, const IconImage& icon)
{
    if (!w->xid || g_desktop.connectionLost)
        return;
    /* _NET_WM_ICON: width, height, then ARGB pixels, each in a long. */
    std::vector<long> data;
    data.reserve(2 + icon.argb.size());
    data.push_back(icon.width);
    data.push_back(icon.height);
    for (std::uint32_t p : icon.argb)
        data.push_back(static_cast<long>(p));
    XChangeProperty(g_desktop.dpy, w->xid, g_desktop.netWmIcon, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(data.data()), static_cast<int>(data.size()));
}

bool OpenDialogFont(const DialogTemplate& t)
{
    Desktop& d = g_desktop;
    if (d.font)
        return true;
    std::string family = t.pointSize ? t.typeface : kLogicalFaces[0];
    for (const char* logical : kLogicalFaces)
        if (strcasecmp(family.c_str(), logical) == 0)
            family = kLogicalFaceFamily;
    const int points = t.pointSize ? t.pointSize : kDefaultPoints;
    const double pixels = std::round(points * ScreenDpi(d.dpy, d.screen) / kPointsPerInch);
    /* Weight and slant only when the template asks for other than the
       defaults, which fontconfig fills in after its own rules. */
    FcPattern* asked = FcPatternCreate();
    FcPatternAddString(asked, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddDouble(asked, FC_PIXEL_SIZE, pixels);
    if (t.weight && t.weight != kNormalWeight)
        FcPatternAddInteger(asked, FC_WEIGHT, FcWeightFromOpenType(t.weight));
    if (t.italic)
        FcPatternAddInteger(asked, FC_SLANT, FC_SLANT_ITALIC);
    XftResult result;
    FcPattern* match = XftFontMatch(d.dpy, d.screen, asked, &result);
    FcPatternDestroy(asked);
    d.font = match ? XftFontOpenPattern(d.dpy, match) : nullptr;
    if (!d.font) {
        if (match)
            FcPatternDestroy(match);
        std::fprintf(stderr, "strellan: no font for the dialog (\"%s\", %d pt)\n", family.c_str(),
                     points);
        return false;
    }
    d.baseUnits = FontBaseUnits(d.dpy, d.font);
    return true;
}

bool RootWindowHas(const char* property)
{
    Desktop& d = g_desktop;
    if (!d.dpy || d.connectionLost)
        return false;
    Atom atom = XInternAtom(d.dpy, property, True);
    if (atom == None)
        return false;
    Atom type;
    int format;
    unsigned long n = 0, after;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(d.dpy, d.root, atom, 0, 1, False, AnyPropertyType, &type,
                                          &format, &n, &after, &data) == Success &&
                       n > 0;
    if (data)
        XFree(data);
    return found;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect)
{
    Wnd* w = FromHandle(hwnd);
    if (!w)
        return FALSE;
    int x = w->rect.x, y = w->rect.y;
    if (w->xid && g_desktop.dpy && !g_desktop.connectionLost) {
        ::Window child = 0;
        XTranslateCoordinates(g_desktop.dpy, w->xid, g_desktop.root, 0, 0, &x, &y, &child);
    } else if (Wnd* parent = FromHandle(w->parent)) {
        x += parent->rect.x;
        y += parent->rect.y;
    }
    *rect = RECT{x, y, x + w->rect.width, y + w->rect.height};
    return TRUE;
}

std::optional<DrawContext> BeginPaint(Wnd* w)
{
    Desktop& d = g_desktop;
    if (!w->xid || d.connectionLost)
        return std::nullopt;
    return DrawContext{d.dpy,      w->xid,        d.gc,           w->xftDraw, d.font,
                       &d.palette, w->rect.width, w->rect.height, d.scale};
}

} // namespace strellan
