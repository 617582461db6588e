#include "platform/linux/res_file.h"

#include <cstring>

namespace strellan {

namespace {

class Reader {
public:
    explicit Reader(Bytes b) : bytes_(b) {}

    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }

    std::uint16_t word()
    {
        if (!need(2))
            return 0;
        std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }

    std::uint32_t dword()
    {
        std::uint32_t lo = word();
        std::uint32_t hi = word();
        return lo | hi << 16;
    }

    /* A type or name: 0xFFFF and an ordinal, or a NUL-terminated UTF-16
       string (reported as no ordinal). */
    std::optional<std::uint16_t> id()
    {
        std::uint16_t first = word();
        if (first == 0xFFFF)
            return word();
        for (std::uint16_t c = first; ok_ && c != 0;)
            c = word();
        return std::nullopt;
    }

    void align4() { pos_ = (pos_ + 3) & ~std::size_t{3}; }

    void seek(std::size_t p)
    {
        if (p > bytes_.size())
            ok_ = false;
        else
            pos_ = p;
    }

private:
    bool need(std::size_t n)
    {
        if (!ok_ || bytes_.size() - pos_ < n) {
            ok_ = false;
            return false;
        }
        return true;
    }

    Bytes bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace

std::optional<Bytes> FindResource(Bytes res, std::uint16_t type, std::uint16_t name)
{
    Reader r(res);
    while (r.ok() && r.pos() < res.size()) {
        std::size_t start = r.pos();
        std::uint32_t dataSize = r.dword();
        std::uint32_t headerSize = r.dword();
        std::optional<std::uint16_t> t = r.id();
        std::optional<std::uint16_t> n = r.id();
        if (!r.ok() || headerSize < 8 || headerSize > res.size() - start ||
            dataSize > res.size() - start - headerSize)
            return std::nullopt;

        std::size_t data = start + headerSize;
        if (t == type && n == name)
            return res.subspan(data, dataSize);

        r.seek(data + dataSize);
        r.align4();
    }
    return std::nullopt;
}

} // namespace strellan
