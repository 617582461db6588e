/*
 * static.cpp - the Static class: a left-aligned label, which takes no focus.
 */
#include "platform/linux/user32/display.h"
#include "platform/linux/user32/user32.h"

namespace strellan {

LRESULT StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Wnd* w = FromHandle(hwnd);

    switch (msg) {
    case WM_PAINT:
        if (std::optional<DrawContext> dc = BeginPaint(w)) {
            ClearBackground(*dc);
            DrawText(*dc, 0, 0, w->text);
        }
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

} // namespace strellan
