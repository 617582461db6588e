#include "platform/linux/user32/draw.h"

namespace strellan {

namespace {

constexpr int kFullCircle = 360 * 64; /* X arcs count in 64ths of a degree */
constexpr int kHalfCircle = 180 * 64;

void Line(const DrawContext& dc, unsigned long pixel, int x0, int y0, int x1, int y1)
{
    XSetForeground(dc.dpy, dc.gc, pixel);
    XDrawLine(dc.dpy, dc.drawable, dc.gc, x0, y0, x1, y1);
}

/* X draws an outline of width w one pixel wider than w. */
unsigned OutlineExtent(int size)
{
    return static_cast<unsigned>(size - 1);
}

const FcChar8* Utf8(std::string_view text)
{
    return reinterpret_cast<const FcChar8*>(text.data());
}

} // namespace

void ClearBackground(const DrawContext& dc)
{
    XClearWindow(dc.dpy, dc.drawable);
}

void DrawOutline(const DrawContext& dc, Rect r, unsigned long pixel)
{
    XSetForeground(dc.dpy, dc.gc, pixel);
    XDrawRectangle(dc.dpy, dc.drawable, dc.gc, r.x, r.y, OutlineExtent(r.width),
                   OutlineExtent(r.height));
}

void DrawEdgeFrame(const DrawContext& dc, Rect r, unsigned long topLeft, unsigned long bottomRight)
{
    const int right = r.x + r.width - 1, bottom = r.y + r.height - 1;
    Line(dc, topLeft, r.x, r.y, right - 1, r.y);
    Line(dc, topLeft, r.x, r.y, r.x, bottom - 1);
    Line(dc, bottomRight, r.x, bottom, right, bottom);
    Line(dc, bottomRight, right, r.y, right, bottom);
}

void DrawFocusRect(const DrawContext& dc, Rect r)
{
    static const char kDots[] = {1, 1};
    XSetLineAttributes(dc.dpy, dc.gc, 0, LineOnOffDash, CapButt, JoinMiter);
    XSetDashes(dc.dpy, dc.gc, 0, kDots, sizeof kDots);
    DrawOutline(dc, r, dc.palette->text);
    XSetLineAttributes(dc.dpy, dc.gc, 0, LineSolid, CapButt, JoinMiter);
}

void DrawHalfEllipse(const DrawContext& dc, Rect r, int startDegrees, unsigned long pixel)
{
    XSetForeground(dc.dpy, dc.gc, pixel);
    XDrawArc(dc.dpy, dc.drawable, dc.gc, r.x, r.y, static_cast<unsigned>(r.width),
             static_cast<unsigned>(r.height), startDegrees * 64, kHalfCircle);
}

void FillEllipse(const DrawContext& dc, Rect r, unsigned long pixel)
{
    XSetForeground(dc.dpy, dc.gc, pixel);
    XFillArc(dc.dpy, dc.drawable, dc.gc, r.x, r.y, static_cast<unsigned>(r.width),
             static_cast<unsigned>(r.height), 0, kFullCircle);
}

int TextWidth(const DrawContext& dc, std::string_view text)
{
    XGlyphInfo extents{};
    XftTextExtentsUtf8(dc.dpy, dc.font, Utf8(text), static_cast<int>(text.size()), &extents);
    return extents.xOff;
}

int TextHeight(const DrawContext& dc)
{
    return dc.font->ascent + dc.font->descent;
}

void DrawText(const DrawContext& dc, int x, int y, std::string_view text)
{
    XftDrawStringUtf8(dc.xft, &dc.palette->xftText, dc.font, x, y + dc.font->ascent, Utf8(text),
                      static_cast<int>(text.size()));
}

} // namespace strellan
