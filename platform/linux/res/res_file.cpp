/*
 * res_file.cpp - the walk through a .res file's entries, each header read
 * and checked against the bytes that are there.
 */
#include "platform/linux/res/res_file.h"

namespace strellan {

namespace {

/* DataSize and HeaderSize come first in every entry's header. */
constexpr std::uint32_t kSmallestHeader = 8;

} // namespace

std::optional<Bytes> FindResource(Bytes res, std::uint16_t type, std::uint16_t name)
{
    ByteReader r(res);
    while (r.ok() && !r.AtEnd()) {
        const std::size_t start = r.pos();
        const std::uint32_t dataSize = r.U32();
        const std::uint32_t headerSize = r.U32();
        const std::optional<std::uint16_t> entryType = r.OrdinalOrString();
        const std::optional<std::uint16_t> entryName = r.OrdinalOrString();
        if (!r.ok() || headerSize < kSmallestHeader || headerSize > res.size() - start ||
            dataSize > res.size() - start - headerSize)
            return std::nullopt;

        const std::size_t data = start + headerSize;
        if (entryType == type && entryName == name)
            return res.subspan(data, dataSize);

        r.Seek(data + dataSize);
        r.AlignTo4();
    }
    return std::nullopt;
}

} // namespace strellan
