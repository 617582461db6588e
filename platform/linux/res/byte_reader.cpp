/*
 * byte_reader.cpp - the bounds-checked reads: past the end, a read gives
 * zeros and the reader is no longer ok().
 */
#include "platform/linux/res/byte_reader.h"

namespace strellan {

namespace {

constexpr std::uint16_t kOrdinalMark = 0xFFFF;
constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(std::uint32_t c)
{
    return c >= 0xD800 && c < 0xDC00;
}

bool IsLowSurrogate(std::uint32_t c)
{
    return c >= 0xDC00 && c < 0xE000;
}

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

bool ByteReader::need(std::size_t n)
{
    if (!ok_ || bytes_.size() - pos_ < n) {
        ok_ = false;
        return false;
    }
    return true;
}

std::uint8_t ByteReader::U8()
{
    return need(1) ? bytes_[pos_++] : 0;
}

std::uint16_t ByteReader::U16()
{
    if (!need(2))
        return 0;
    auto v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
}

std::uint32_t ByteReader::U32()
{
    std::uint32_t lo = U16();
    std::uint32_t hi = U16();
    return lo | hi << 16;
}

Bytes ByteReader::Take(std::size_t n)
{
    if (!need(n))
        return {};
    Bytes b = bytes_.subspan(pos_, n);
    pos_ += n;
    return b;
}

void ByteReader::Seek(std::size_t offset)
{
    if (!ok_ || offset > bytes_.size())
        ok_ = false;
    else
        pos_ = offset;
}

std::string ByteReader::Utf16z()
{
    std::string out;
    for (;;) {
        std::uint32_t c = U16();
        if (!ok_ || c == 0)
            return out;
        if (IsHighSurrogate(c)) {
            std::size_t mark = pos_;
            std::uint32_t lo = U16();
            if (ok_ && IsLowSurrogate(lo)) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            } else {
                /* Leave what follows the lone surrogate to be read as
                   itself: a NUL still ends the string. */
                c = kReplacementCharacter;
                if (ok_)
                    pos_ = mark;
            }
        } else if (IsLowSurrogate(c)) {
            c = kReplacementCharacter;
        }
        AppendUtf8(out, c);
    }
}

std::optional<std::uint16_t> ByteReader::OrdinalOrString(std::string* text)
{
    std::size_t start = pos_;
    if (U16() == kOrdinalMark)
        return U16();
    Seek(start);
    std::string s = Utf16z();
    if (text)
        *text = std::move(s);
    return std::nullopt;
}

} // namespace strellan
