#include "platform/linux/dialog_template.h"

#include <strings.h>

namespace strellan {

namespace {

constexpr std::uint32_t kDsSetFont = 0x40;

const char* PredefinedClassName(std::uint16_t ordinal)
{
    switch (ordinal) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    }
    return nullptr;
}

/* Class names are case-insensitive; rc writes "BUTTON" where the ordinal
   would do. Report the predefined classes under one spelling. */
std::string CanonicalClassName(std::string name)
{
    for (std::uint16_t ordinal = 0x80; ordinal <= 0x85; ++ordinal) {
        const char* known = PredefinedClassName(ordinal);
        if (strcasecmp(name.c_str(), known) == 0)
            return known;
    }
    return name;
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

class TemplateReader {
public:
    explicit TemplateReader(Bytes b) : bytes_(b) {}

    bool ok() const { return ok_; }

    std::uint8_t byte()
    {
        if (!need(1))
            return 0;
        return bytes_[pos_++];
    }

    std::uint16_t word()
    {
        std::uint16_t lo = byte();
        std::uint16_t hi = byte();
        return static_cast<std::uint16_t>(lo | hi << 8);
    }

    std::int16_t shortInt() { return static_cast<std::int16_t>(word()); }

    std::uint32_t dword()
    {
        std::uint32_t lo = word();
        std::uint32_t hi = word();
        return lo | hi << 16;
    }

    /* A NUL-terminated UTF-16LE string, as UTF-8. An unpaired surrogate
       becomes U+FFFD. */
    std::string string()
    {
        std::string out;
        for (;;) {
            std::uint32_t c = word();
            if (!ok_ || c == 0)
                return out;
            if (c >= 0xD800 && c < 0xDC00) {
                std::uint32_t lo = word();
                if (lo >= 0xDC00 && lo < 0xE000)
                    c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                else
                    c = 0xFFFD;
            } else if (c >= 0xDC00 && c < 0xE000) {
                c = 0xFFFD;
            }
            AppendUtf8(out, c);
        }
    }

    /* sz_Or_Ord: 0 for none, 0xFFFF and an ordinal, or a string. Ordinals
       read as "#n" unless they name a predefined class. */
    std::string nameOrOrdinal(bool isClass)
    {
        std::uint16_t first = word();
        if (first == 0)
            return {};
        if (first == 0xFFFF) {
            std::uint16_t ordinal = word();
            if (const char* name = isClass ? PredefinedClassName(ordinal) : nullptr)
                return name;
            return "#" + std::to_string(ordinal);
        }
        pos_ -= 2;
        return isClass ? CanonicalClassName(string()) : string();
    }

    std::vector<std::uint8_t> bytes(std::size_t n)
    {
        if (!need(n))
            return {};
        std::vector<std::uint8_t> v(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                    bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return v;
    }

    void align4()
    {
        std::size_t aligned = (pos_ + 3) & ~std::size_t{3};
        if (aligned > bytes_.size())
            ok_ = false;
        else
            pos_ = aligned;
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

std::optional<DialogTemplate> ParseDialogTemplate(Bytes bytes)
{
    TemplateReader r(bytes);
    DialogTemplate t;

    std::uint16_t version = r.word();
    std::uint16_t signature = r.word();
    if (!r.ok() || version != 1 || signature != 0xFFFF)
        return std::nullopt;

    t.helpId = r.dword();
    t.exStyle = r.dword();
    t.style = r.dword();
    std::uint16_t count = r.word();
    t.x = r.shortInt();
    t.y = r.shortInt();
    t.cx = r.shortInt();
    t.cy = r.shortInt();
    t.menu = r.nameOrOrdinal(false);
    t.className = r.nameOrOrdinal(false);
    t.title = r.string();
    if (t.style & kDsSetFont) {
        t.pointSize = r.word();
        t.weight = r.word();
        t.italic = r.byte() != 0;
        t.charset = r.byte();
        t.typeface = r.string();
    }

    for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
        /* Every item starts on a 4-byte boundary of the template. */
        r.align4();
        DialogItemTemplate item;
        item.helpId = r.dword();
        item.exStyle = r.dword();
        item.style = r.dword();
        item.x = r.shortInt();
        item.y = r.shortInt();
        item.cx = r.shortInt();
        item.cy = r.shortInt();
        item.id = static_cast<std::int32_t>(r.dword());
        item.className = r.nameOrOrdinal(true);
        item.text = r.nameOrOrdinal(false);
        std::uint16_t extra = r.word();
        item.creationData = r.bytes(extra);
        t.items.push_back(std::move(item));
    }

    if (!r.ok())
        return std::nullopt;
    return t;
}

} // namespace strellan
