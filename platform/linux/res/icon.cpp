/*
 * icon.cpp - the icon group's entry of a size, and its 32-bit DIB decoded
 * into pixels.
 */
#include "platform/linux/res/icon.h"

#include "platform/linux/res/res_file.h"

#include <cstdlib>
#include <limits>

namespace strellan {

namespace {

constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
constexpr std::uint32_t kBiRgb = 0;            /* uncompressed */
constexpr std::uint16_t kIconResourceType = 1; /* GRPICONDIR's idType for icons */
constexpr int kLargestIcon = 256;

/* A GRPICONDIRENTRY stores 256 as 0. */
int EntrySize(std::uint8_t stored)
{
    return stored ? stored : kLargestIcon;
}

} // namespace

std::optional<IconImage> DecodeIconImage(Bytes image)
{
    ByteReader r(image);
    const std::uint32_t headerSize = r.U32();
    const auto width = static_cast<std::int32_t>(r.U32());
    const auto doubledHeight = static_cast<std::int32_t>(r.U32());
    r.U16(); /* planes */
    const std::uint16_t bitCount = r.U16();
    const std::uint32_t compression = r.U32();
    const int height = doubledHeight / 2;
    if (!r.ok() || headerSize < kBitmapInfoHeaderSize || bitCount != 32 || compression != kBiRgb ||
        width <= 0 || height <= 0 || width > kLargestIcon || height > kLargestIcon)
        return std::nullopt;

    r.Seek(headerSize);
    Bytes pixels = r.Take(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    if (!r.ok())
        return std::nullopt;

    IconImage icon;
    icon.width = width;
    icon.height = height;
    icon.argb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        ByteReader row(pixels.subspan(static_cast<std::size_t>(height - 1 - y) *
                                      static_cast<std::size_t>(width) * 4));
        for (int x = 0; x < width; ++x) {
            /* BGRA in memory: one little-endian word is ARGB. */
            icon.argb.push_back(row.U32());
        }
    }
    return icon;
}

std::optional<IconImage> LoadIconFromRes(Bytes res, std::uint16_t group, int cx, int cy)
{
    std::optional<Bytes> dir = FindResource(res, RES_TYPE_GROUP_ICON, group);
    if (!dir)
        return std::nullopt;

    ByteReader r(*dir);
    r.U16(); /* reserved */
    const std::uint16_t type = r.U16();
    const std::uint16_t count = r.U16();
    if (!r.ok() || type != kIconResourceType)
        return std::nullopt;

    std::optional<std::uint16_t> best;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::uint16_t i = 0; i < count; ++i) {
        const int width = EntrySize(r.U8());
        const int height = EntrySize(r.U8());
        r.Take(1 + 1 + 2 + 2 + 4); /* colours, reserved, planes, bit count, size */
        const std::uint16_t id = r.U16();
        if (!r.ok())
            return std::nullopt;
        const int distance = std::abs(width - cx) + std::abs(height - cy);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = id;
        }
    }
    if (!best)
        return std::nullopt;

    std::optional<Bytes> image = FindResource(res, RES_TYPE_ICON, *best);
    return image ? DecodeIconImage(*image) : std::nullopt;
}

} // namespace strellan
