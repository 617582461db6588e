/*
 * dialog_template.cpp - a DLGTEMPLATEEX and its items, read field by field
 * in the order the format lays them out.
 */
#include "platform/linux/res/dialog_template.h"

#include <array>
#include <strings.h>

namespace strellan {

namespace {

constexpr std::uint16_t kExtendedVersion = 1;
constexpr std::uint16_t kExtendedSignature = 0xFFFF;
/* DS_SETFONT: the template names its font. */
constexpr std::uint32_t kStyleSetFont = 0x0040;

/* The predefined control classes, from ordinal 0x80 on. */
constexpr std::uint16_t kFirstClassOrdinal = 0x80;
constexpr std::array<const char*, 6> kPredefinedClasses = {"Button",  "Edit",      "Static",
                                                           "ListBox", "ScrollBar", "ComboBox"};

std::string OrdinalName(std::uint16_t ordinal)
{
    std::string name = "#";
    name += std::to_string(ordinal);
    return name;
}

std::string ClassName(std::optional<std::uint16_t> ordinal, const std::string& text)
{
    for (std::size_t i = 0; i < kPredefinedClasses.size(); ++i) {
        const char* known = kPredefinedClasses[i];
        if (ordinal ? *ordinal == kFirstClassOrdinal + i : strcasecmp(text.c_str(), known) == 0)
            return known;
    }
    return ordinal ? OrdinalName(*ordinal) : text;
}

/* sz_Or_Ord: 0 for none (read as the empty string), 0xFFFF and an
   ordinal, or a string. */
std::string NameOrOrdinal(ByteReader& r)
{
    std::string text;
    std::optional<std::uint16_t> ordinal = r.OrdinalOrString(&text);
    return ordinal ? OrdinalName(*ordinal) : text;
}

std::string ClassNameOrOrdinal(ByteReader& r)
{
    std::string text;
    std::optional<std::uint16_t> ordinal = r.OrdinalOrString(&text);
    return ClassName(ordinal, text);
}

DialogItemTemplate ReadItem(ByteReader& r)
{
    DialogItemTemplate item;
    item.helpId = r.U32();
    item.exStyle = r.U32();
    item.style = r.U32();
    item.x = r.I16();
    item.y = r.I16();
    item.cx = r.I16();
    item.cy = r.I16();
    item.id = static_cast<std::int32_t>(r.U32());
    item.className = ClassNameOrOrdinal(r);
    item.text = NameOrOrdinal(r);
    Bytes extra = r.Take(r.U16());
    item.creationData.assign(extra.begin(), extra.end());
    return item;
}

} // namespace

std::optional<DialogTemplate> ParseDialogTemplate(Bytes bytes)
{
    ByteReader r(bytes);
    DialogTemplate t;

    std::uint16_t version = r.U16();
    std::uint16_t signature = r.U16();
    if (!r.ok() || version != kExtendedVersion || signature != kExtendedSignature)
        return std::nullopt;

    t.helpId = r.U32();
    t.exStyle = r.U32();
    t.style = r.U32();
    std::uint16_t count = r.U16();
    t.x = r.I16();
    t.y = r.I16();
    t.cx = r.I16();
    t.cy = r.I16();
    t.menu = NameOrOrdinal(r);
    t.className = NameOrOrdinal(r);
    t.title = r.Utf16z();
    if (t.style & kStyleSetFont) {
        t.pointSize = r.U16();
        t.weight = r.U16();
        t.italic = r.U8() != 0;
        t.charset = r.U8();
        t.typeface = r.Utf16z();
    }

    for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
        /* Every item starts on a DWORD boundary of the template. */
        r.AlignTo4();
        t.items.push_back(ReadItem(r));
    }

    if (!r.ok())
        return std::nullopt;
    return t;
}

} // namespace strellan
