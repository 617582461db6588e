/*
 * draw.cpp - the classic controls' shapes on Xlib and Xft, through a
 * window's drawing context.
 */
#include "platform/linux/user32/draw.h"

#include <cmath>

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

/* A one-pixel rectangle outline. */
void Outline1(const DrawContext& dc, Rect r)
{
    XDrawRectangle(dc.dpy, dc.drawable, dc.gc, r.x, r.y, OutlineExtent(r.width),
                   OutlineExtent(r.height));
}

} // namespace

int DrawContext::Scaled(int px96) const
{
    const int px = static_cast<int>(std::lround(px96 * scale));
    return px > 0 ? px : 1;
}

Rect Inset(Rect r, int n)
{
    return {r.x + n, r.y + n, r.width - 2 * n, r.height - 2 * n};
}

void ClearBackground(const DrawContext& dc)
{
    XClearWindow(dc.dpy, dc.drawable);
}

void DrawOutline(const DrawContext& dc, Rect r, unsigned long pixel)
{
    XSetForeground(dc.dpy, dc.gc, pixel);
    for (int i = 0; i < dc.Scaled(1); ++i)
        Outline1(dc, Inset(r, i));
}

void DrawEdgeFrame(const DrawContext& dc, Rect r, unsigned long topLeft, unsigned long bottomRight)
{
    for (int i = 0; i < dc.Scaled(1); ++i) {
        const Rect f = Inset(r, i);
        const int right = f.x + f.width - 1, bottom = f.y + f.height - 1;
        Line(dc, topLeft, f.x, f.y, right - 1, f.y);
        Line(dc, topLeft, f.x, f.y, f.x, bottom - 1);
        Line(dc, bottomRight, f.x, bottom, right, bottom);
        Line(dc, bottomRight, right, f.y, right, bottom);
    }
}

void DrawFocusRect(const DrawContext& dc, Rect r)
{
    const char dot = static_cast<char>(dc.Scaled(1));
    const char dots[] = {dot, dot};
    XSetLineAttributes(dc.dpy, dc.gc, 0, LineOnOffDash, CapButt, JoinMiter);
    XSetDashes(dc.dpy, dc.gc, 0, dots, sizeof dots);
    DrawOutline(dc, r, dc.palette->text);
    XSetLineAttributes(dc.dpy, dc.gc, 0, LineSolid, CapButt, JoinMiter);
}

void DrawHalfEllipse(const DrawContext& dc, Rect r, int startDegrees, unsigned long pixel)
{
    XSetForeground(dc.dpy, dc.gc, pixel);
    for (int i = 0; i < dc.Scaled(1); ++i) {
        const Rect a = Inset(r, i);
        XDrawArc(dc.dpy, dc.drawable, dc.gc, a.x, a.y, static_cast<unsigned>(a.width),
                 static_cast<unsigned>(a.height), startDegrees * 64, kHalfCircle);
    }
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
