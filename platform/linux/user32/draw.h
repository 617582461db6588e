/*
 * draw.h - the drawing layer: a window's drawing context and the few
 * shapes the classic controls are made of. Each function draws with the
 * context it is given and nothing else.
 */
#ifndef STRELLAN_PLATFORM_LINUX_USER32_DRAW_H
#define STRELLAN_PLATFORM_LINUX_USER32_DRAW_H

#include "platform/linux/user32/user32.h"

#include <X11/Xlib.h>
#include <X11/Xft/Xft.h>

#include <string_view>

namespace strellan {

/* The classic "Windows Standard" colours, as X pixels. */
struct Palette {
    unsigned long face, highlight, light, shadow, darkShadow, window, text;
    XftColor xftText;
};

struct DrawContext {
    Display* dpy;
    Drawable drawable;
    GC gc;
    XftDraw* xft;
    XftFont* font;
    const Palette* palette;
    int width, height;
    /* The screen's dots per inch over 96: the glyphs' sizes and lines
       scale with it, as Windows scales them with the dialog font. */
    double scale;

    /* A length drawn at 96 dpi, at this screen's: never less than one. */
    int Scaled(int px96) const;
};

/* The whole window in the face colour. */
void ClearBackground(const DrawContext& dc);

/* A rectangle's outline, dc.Scaled(1) pixels wide, inside r. */
void DrawOutline(const DrawContext& dc, Rect r, unsigned long pixel);

/* A frame dc.Scaled(1) pixels wide inside r: top and left in one colour,
   bottom and right in another, the way the 3D edges are drawn. */
void DrawEdgeFrame(const DrawContext& dc, Rect r, unsigned long topLeft, unsigned long bottomRight);

/* The dotted rectangle of the keyboard focus, dots and line scaled. */
void DrawFocusRect(const DrawContext& dc, Rect r);

/* Half an ellipse's outline inside r, dc.Scaled(1) pixels wide, from
   startDegrees counter-clockwise; and a whole filled ellipse. */
void DrawHalfEllipse(const DrawContext& dc, Rect r, int startDegrees, unsigned long pixel);
void FillEllipse(const DrawContext& dc, Rect r, unsigned long pixel);

/* r with every side moved in by n pixels. */
Rect Inset(Rect r, int n);

/* Text in the dialog font, its top at y. */
int TextWidth(const DrawContext& dc, std::string_view text);
int TextHeight(const DrawContext& dc);
void DrawText(const DrawContext& dc, int x, int y, std::string_view text);

} // namespace strellan

#endif
