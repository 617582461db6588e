/*
 * icon.cpp - LoadImageA for icons from the embedded resources, and the
 * window icon (_NET_WM_ICON) that WM_SETICON sets.
 */
#include "platform/linux/res_file.h"
#include "platform/linux/user.h"

#include <X11/Xatom.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace strellan {

namespace {

/* An icon: ARGB pixels, row by row from the top. */
struct Icon {
    int width = 0, height = 0;
    std::vector<std::uint32_t> argb;
};

std::map<HICON, std::unique_ptr<Icon>> g_icons;
uintptr_t g_nextIcon = 0x20010;

std::uint32_t Le32(Bytes b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t Le16(Bytes b, size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

/* An icon image as the .ico and RT_ICON store it: a BITMAPINFOHEADER of
   doubled height, the colour rows bottom-up, then the 1-bit AND mask. Only
   32-bit images are read; Strellan carries nothing else. */
std::unique_ptr<Icon> DecodeIconImage(Bytes image)
{
    if (image.size() < 40 || Le32(image, 0) < 40)
        return nullptr;
    int width = static_cast<int>(Le32(image, 4));
    int height = static_cast<int>(Le32(image, 8)) / 2;
    std::uint16_t bits = Le16(image, 14);
    size_t header = Le32(image, 0);
    if (bits != 32 || width <= 0 || height <= 0 || width > 256 || height > 256)
        return nullptr;
    size_t colourBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    if (image.size() < header + colourBytes)
        return nullptr;

    auto icon = std::make_unique<Icon>();
    icon->width = width;
    icon->height = height;
    icon->argb.resize(static_cast<size_t>(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            size_t at = header + (static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) +
                                  static_cast<size_t>(x)) *
                                     4;
            std::uint32_t b = image[at], g = image[at + 1], r = image[at + 2], a = image[at + 3];
            icon->argb[static_cast<size_t>(y * width + x)] = a << 24 | r << 16 | g << 8 | b;
        }
    return icon;
}

} // namespace

void SetWindowIcon(Wnd* w)
{
    auto it = g_icons.find(w->bigIcon);
    if (it == g_icons.end() || g_desktop.dead)
        return;
    const Icon& icon = *it->second;
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

} // namespace strellan

using namespace strellan;

extern "C" {

/* Icons only, from the program's own resources: the group's entry nearest
   the asked size (32 x 32 for LR_DEFAULTSIZE with no size given). */
HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad)
{
    (void)hInst;
    if (type != IMAGE_ICON || !IS_INTRESOURCE(name))
        return NULL;
    if (cx == 0 && (fuLoad & LR_DEFAULTSIZE))
        cx = 32;
    if (cy == 0 && (fuLoad & LR_DEFAULTSIZE))
        cy = 32;

    ResourceBytes res = EmbeddedRes();
    Bytes all(res.data, res.size);
    std::optional<Bytes> group = FindResource(
        all, RES_TYPE_GROUP_ICON, static_cast<std::uint16_t>(reinterpret_cast<uintptr_t>(name)));
    if (!group || group->size() < 6)
        return NULL;
    unsigned count = Le16(*group, 4);
    int bestId = -1, bestScore = 1 << 30;
    for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= group->size(); ++i) {
        size_t e = 6 + 14 * i;
        int w = (*group)[e] ? (*group)[e] : 256, h = (*group)[e + 1] ? (*group)[e + 1] : 256;
        int score = std::abs(w - cx) + std::abs(h - cy);
        if (score < bestScore) {
            bestScore = score;
            bestId = Le16(*group, e + 12);
        }
    }
    if (bestId < 0)
        return NULL;
    std::optional<Bytes> image =
        FindResource(all, RES_TYPE_ICON, static_cast<std::uint16_t>(bestId));
    if (!image)
        return NULL;
    std::unique_ptr<Icon> icon = DecodeIconImage(*image);
    if (!icon)
        return NULL;

    HICON h = reinterpret_cast<HICON>(g_nextIcon);
    g_nextIcon += 4;
    g_icons[h] = std::move(icon);
    return h;
}

} // extern "C"
