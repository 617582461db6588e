/*
 * byte_reader.h - reads the little-endian words of a compiled resource.
 *
 * Every read is bounds-checked. The first read past the end marks the
 * reader failed and every later read answers 0 or empty, so a parser reads
 * a whole structure and asks ok() once at the end, never beyond the bytes.
 */
#ifndef STRELLAN_PLATFORM_LINUX_RES_BYTE_READER_H
#define STRELLAN_PLATFORM_LINUX_RES_BYTE_READER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace strellan {

using Bytes = std::span<const std::uint8_t>;

class ByteReader {
public:
    explicit ByteReader(Bytes bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }
    bool AtEnd() const { return pos_ >= bytes_.size(); }

    std::uint8_t U8();
    std::uint16_t U16();
    std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
    std::uint32_t U32();

    /* The next n bytes; empty, and failed, when there are fewer. */
    Bytes Take(std::size_t n);

    /* Moves to an offset from the start; past the end fails. */
    void Seek(std::size_t offset);

    /* Moves to the next multiple of 4 from the start (a DWORD boundary). */
    void AlignTo4() { Seek((pos_ + 3) & ~std::size_t{3}); }

    /* A NUL-terminated UTF-16LE string, as UTF-8. A lone surrogate becomes
       U+FFFD, as Windows shows it. */
    std::string Utf16z();

    /* A name or ID as resources store them: 0xFFFF and an ordinal, else a
       NUL-terminated UTF-16 string. The ordinal, or nothing for a string. */
    std::optional<std::uint16_t> OrdinalOrString(std::string* text = nullptr);

private:
    bool need(std::size_t n);

    Bytes bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace strellan

#endif
