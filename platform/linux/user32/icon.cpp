/*
 * icon.cpp - LoadImageA for icons from the program's own resources, and the
 * icon that WM_SETICON shows on the desktop.
 */
#include "platform/linux/res/icon.h"
#include "platform/linux/res/program_res.h"
#include "platform/linux/user32/display.h"
#include "platform/linux/user32/user32.h"

#include <map>

namespace strellan {

namespace {

/* Icons by handle, kept for the run, as shared icons are on Windows. */
constexpr uintptr_t kFirstIconHandle = 0x20010;
constexpr uintptr_t kHandleStep = 4;
constexpr int kDefaultIconSize = 32; /* SM_CXICON */

std::map<HICON, IconImage> g_icons;
uintptr_t g_nextIcon = kFirstIconHandle;

} // namespace

void ShowWindowIcon(Wnd* w)
{
    auto it = g_icons.find(w->bigIcon);
    if (it != g_icons.end())
        SetXWindowIcon(w, it->second);
}

} // namespace strellan

using namespace strellan;

extern "C" {

/* Icons only, from the program's own resources: the group's image nearest
   the asked size (32 x 32 for LR_DEFAULTSIZE with no size given). */
HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad)
{
    (void)hInst;
    if (type != IMAGE_ICON || !IS_INTRESOURCE(name))
        return NULL;
    if (cx == 0 && (fuLoad & LR_DEFAULTSIZE))
        cx = kDefaultIconSize;
    if (cy == 0 && (fuLoad & LR_DEFAULTSIZE))
        cy = kDefaultIconSize;

    const auto group = static_cast<std::uint16_t>(reinterpret_cast<uintptr_t>(name));
    std::optional<IconImage> icon = LoadIconFromRes(ProgramResources(), group, cx, cy);
    if (!icon)
        return NULL;

    HICON h = reinterpret_cast<HICON>(g_nextIcon);
    g_nextIcon += kHandleStep;
    g_icons[h] = std::move(*icon);
    return h;
}

} // extern "C"
