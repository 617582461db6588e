/*
 * icon.h - icons from a compiled .res: an icon group (RT_GROUP_ICON) names
 * its images by size; each image (RT_ICON) is a DIB as in a .ico file.
 */
#ifndef STRELLAN_PLATFORM_LINUX_RES_ICON_H
#define STRELLAN_PLATFORM_LINUX_RES_ICON_H

#include "platform/linux/res/byte_reader.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace strellan {

/* Straight (not premultiplied) ARGB pixels, the top row first. */
struct IconImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
};

/* The image of the icon group `group` nearest in size to cx x cy, decoded.
   Only 32-bit uncompressed images are read, which is all Strellan carries;
   nothing when the group, its image or the pixels are missing or of
   another kind. */
std::optional<IconImage> LoadIconFromRes(Bytes res, std::uint16_t group, int cx, int cy);

/* One RT_ICON image: a BITMAPINFOHEADER of doubled height, the colour
   rows bottom-up, then the 1-bit AND mask (unused with alpha). */
std::optional<IconImage> DecodeIconImage(Bytes image);

} // namespace strellan

#endif
