// The resource readers on hand-made bytes: a .res file's entries, dialog
// templates and icons, whole, odd and broken.
#include "platform/linux/res/dialog_template.h"
#include "platform/linux/res/icon.h"
#include "platform/linux/res/res_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using strellan::Bytes;

// Little-endian bytes, written the way rc and windres write them.
class Writer {
public:
    Writer& u8(std::uint8_t v)
    {
        bytes.push_back(v);
        return *this;
    }
    Writer& u16(std::uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    Writer& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Writer& utf16(const std::u16string& s)
    {
        for (char16_t c : s)
            u16(c);
        return u16(0);
    }
    Writer& ordinal(std::uint16_t id) { return u16(0xFFFF).u16(id); }
    Writer& raw(const std::vector<std::uint8_t>& b)
    {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    Writer& align4()
    {
        while (bytes.size() % 4)
            u8(0);
        return *this;
    }

    std::vector<std::uint8_t> bytes;
};

// One .res entry: header (sizes, type, name, flags, language...) and data.
void AddEntry(Writer& res, std::uint16_t type, std::uint16_t name,
              const std::vector<std::uint8_t>& data, std::uint32_t claimedSize = ~0u)
{
    Writer header;
    header.ordinal(type).ordinal(name).align4();
    header.u32(0).u16(0x1030).u16(0x0409).u32(0).u32(0); // version, flags, language, ...
    res.u32(claimedSize == ~0u ? static_cast<std::uint32_t>(data.size()) : claimedSize);
    res.u32(static_cast<std::uint32_t>(8 + header.bytes.size()));
    res.raw(header.bytes).raw(data).align4();
}

// A .res as windres starts it: an empty entry of type 0.
Writer NewRes()
{
    Writer res;
    AddEntry(res, 0, 0, {});
    return res;
}

std::vector<std::uint8_t> Data(std::initializer_list<std::uint8_t> b)
{
    return b;
}

TEST(ResFile, FindsEntriesByTypeAndNameAndSkipsTheOthers)
{
    Writer res = NewRes();
    AddEntry(res, 5, 1000, Data({1, 2, 3})); // odd length: padded
    AddEntry(res, 14, 1000, Data({4, 5}));   // same name, other type
    {                                        // named by string: skipped
        Writer header;
        header.utf16(u"DIALOG").utf16(u"TUNER").align4().u32(0).u32(0).u32(0).u32(0);
        res.u32(1).u32(static_cast<std::uint32_t>(8 + header.bytes.size()));
        res.raw(header.bytes).u8(9).align4();
    }
    AddEntry(res, 5, 1001, Data({6, 7, 8, 9}));

    auto found = [&](std::uint16_t type, std::uint16_t name) {
        std::optional<Bytes> b = strellan::FindResource(res.bytes, type, name);
        return b ? std::vector<std::uint8_t>(b->begin(), b->end())
                 : std::vector<std::uint8_t>{0xEE};
    };
    EXPECT_EQ(found(5, 1000), Data({1, 2, 3}));
    EXPECT_EQ(found(14, 1000), Data({4, 5}));
    EXPECT_EQ(found(5, 1001), Data({6, 7, 8, 9}));
    EXPECT_FALSE(strellan::FindResource(res.bytes, 5, 1002));
    EXPECT_FALSE(strellan::FindResource(res.bytes, 3, 1000));
}

TEST(ResFile, AnEntryWhoseSizesReachPastTheFileIsNotRead)
{
    // The data size claims more than the file holds: the entry is refused
    // rather than read past the end, and nothing after it can be found.
    for (std::uint32_t claimed : {5u, 64u, 0x7FFFFFFFu, 0xFFFFFFF0u}) {
        Writer res = NewRes();
        AddEntry(res, 5, 1000, Data({1, 2, 3, 4}), claimed);
        EXPECT_FALSE(strellan::FindResource(res.bytes, 5, 1000)) << claimed;
    }
    // The header size, likewise.
    Writer res = NewRes();
    res.u32(0).u32(0x10000).ordinal(5).ordinal(1000);
    EXPECT_FALSE(strellan::FindResource(res.bytes, 5, 1000));
    // And a header too small to hold its own sizes.
    Writer tiny;
    tiny.u32(0).u32(4).ordinal(5).ordinal(1000);
    EXPECT_FALSE(strellan::FindResource(tiny.bytes, 5, 1000));
}

TEST(ResFile, EmptyAndCutFilesFindNothing)
{
    Writer res = NewRes();
    AddEntry(res, 5, 1000, Data({1, 2, 3, 4}));
    EXPECT_FALSE(strellan::FindResource({}, 5, 1000));
    for (std::size_t n = 0; n < res.bytes.size(); ++n) {
        std::optional<Bytes> b = strellan::FindResource(Bytes(res.bytes).first(n), 5, 1000);
        if (b) {
            EXPECT_EQ(b->size(), 4u) << n; // whole, or not at all
        }
    }
}

// A DLGTEMPLATEEX with the given title and items.
struct Item {
    std::uint32_t style;
    std::int16_t x, y, cx, cy;
    std::int32_t id;
    std::vector<std::uint8_t> className; // as written: ordinal or string
    std::u16string text;
    std::vector<std::uint8_t> creationData;
};

std::vector<std::uint8_t> Ordinal(std::uint16_t id)
{
    return Writer().ordinal(id).bytes;
}

std::vector<std::uint8_t> String(const std::u16string& s)
{
    return Writer().utf16(s).bytes;
}

std::vector<std::uint8_t> Template(const std::u16string& title, const std::vector<Item>& items,
                                   bool font = true)
{
    Writer t;
    t.u16(1).u16(0xFFFF).u32(7).u32(0).u32(font ? 0x80C800CC : 0x80C80084);
    t.u16(static_cast<std::uint16_t>(items.size())).u16(0).u16(0).u16(174).u16(54);
    t.u16(0).u16(0).utf16(title); // no menu, the dialog class
    if (font)
        t.u16(8).u16(400).u8(0).u8(1).utf16(u"MS Shell Dlg");
    for (const Item& i : items) {
        t.align4();
        t.u32(0).u32(0).u32(i.style);
        t.u16(static_cast<std::uint16_t>(i.x)).u16(static_cast<std::uint16_t>(i.y));
        t.u16(static_cast<std::uint16_t>(i.cx)).u16(static_cast<std::uint16_t>(i.cy));
        t.u32(static_cast<std::uint32_t>(i.id)).raw(i.className).utf16(i.text);
        t.u16(static_cast<std::uint16_t>(i.creationData.size())).raw(i.creationData);
    }
    return t.bytes;
}

TEST(DialogTemplate, ReadsTheHeaderFontAndItems)
{
    std::vector<std::uint8_t> bytes =
        Template(u"Tuner", {{0x50010000, 7, 33, 32, 14, 1002, Ordinal(0x80), u"Play", {}},
                            {0x50020000, -3, 7, 8, 8, -1, Ordinal(0x82), u"F#", {}},
                            {0x50000009, 7, 21, 11, 8, 1015, String(u"BUTTON"), u"", {0xAB, 0xCD}},
                            {0x50000000, 1, 2, 3, 4, 7, String(u"MyClass"), u"x", {}},
                            {0x50000000, 1, 2, 3, 4, 8, Ordinal(0x99), u"y", {}}});
    std::optional<strellan::DialogTemplate> t = strellan::ParseDialogTemplate(bytes);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->helpId, 7u);
    EXPECT_EQ(t->style, 0x80C800CCu);
    EXPECT_EQ(t->title, "Tuner");
    EXPECT_EQ(t->menu, "");
    EXPECT_EQ(t->className, "");
    EXPECT_EQ(t->typeface, "MS Shell Dlg");
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ(t->charset, 1);
    ASSERT_EQ(t->items.size(), 5u);
    EXPECT_EQ(t->items[0].className, "Button");
    EXPECT_EQ(t->items[0].text, "Play");
    EXPECT_EQ(t->items[0].id, 1002);
    EXPECT_EQ(t->items[1].className, "Static");
    EXPECT_EQ(t->items[1].x, -3);
    EXPECT_EQ(t->items[1].id, -1);
    // A predefined class by name, in any case, reads as the ordinal would.
    EXPECT_EQ(t->items[2].className, "Button");
    EXPECT_EQ(t->items[2].creationData, Data({0xAB, 0xCD}));
    EXPECT_EQ(t->items[3].className, "MyClass");
    EXPECT_EQ(t->items[4].className, "#153");
}

TEST(DialogTemplate, WithoutDsSetFontThereIsNoFontBlock)
{
    std::optional<strellan::DialogTemplate> t = strellan::ParseDialogTemplate(
        Template(u"T", {{0x50000000, 0, 0, 1, 1, 5, Ordinal(0x80), u"A", {}}}, false));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->typeface, "");
    ASSERT_EQ(t->items.size(), 1u);
    EXPECT_EQ(t->items[0].text, "A");
}

TEST(DialogTemplate, TextIsDecodedFromUtf16IncludingSurrogatePairs)
{
    struct Case {
        std::u16string utf16;
        std::string utf8;
    };
    const Case cases[] = {
        {u"Play", "Play"},
        {u"F\u266F", "F\xE2\x99\xAF"},                    // F sharp sign: three bytes
        {u"\u00E9t\u00E9", "\xC3\xA9t\xC3\xA9"},          // two bytes each
        {u"\U0001D11E clef", "\xF0\x9D\x84\x9E clef"},    // a surrogate pair: four bytes
        {u"\U0001F3B8", "\xF0\x9F\x8E\xB8"},              // guitar
        {std::u16string{0xD834} + u"x", "\xEF\xBF\xBDx"}, // lone high surrogate: U+FFFD
        {std::u16string{0xDD1E} + u"y", "\xEF\xBF\xBDy"}, // lone low surrogate
        {std::u16string{0xD834}, "\xEF\xBF\xBD"},         // high surrogate, then the end
    };
    for (const Case& c : cases) {
        std::optional<strellan::DialogTemplate> t = strellan::ParseDialogTemplate(
            Template(c.utf16, {{0x50000000, 0, 0, 1, 1, 5, Ordinal(0x82), c.utf16, {}}}));
        ASSERT_TRUE(t);
        EXPECT_EQ(t->title, c.utf8);
        ASSERT_EQ(t->items.size(), 1u);
        EXPECT_EQ(t->items[0].text, c.utf8);
    }
}

TEST(DialogTemplate, ForeignOrCutBytesAreRefused)
{
    std::vector<std::uint8_t> whole =
        Template(u"Tuner", {{0x50010000, 7, 33, 32, 14, 1002, Ordinal(0x80), u"Play", {1, 2}}});
    ASSERT_TRUE(strellan::ParseDialogTemplate(whole));
    for (std::size_t n = 0; n < whole.size(); ++n)
        EXPECT_FALSE(strellan::ParseDialogTemplate(Bytes(whole).first(n))) << n;

    // The old DLGTEMPLATE form, without the signature.
    std::vector<std::uint8_t> old = whole;
    old[2] = 0;
    old[3] = 0;
    EXPECT_FALSE(strellan::ParseDialogTemplate(old));
}

// A 32-bit icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask.
std::vector<std::uint8_t> IconImageBytes(int w, int h, std::uint16_t bits = 32,
                                         std::uint32_t compression = 0)
{
    Writer b;
    b.u32(40).u32(static_cast<std::uint32_t>(w)).u32(static_cast<std::uint32_t>(2 * h));
    b.u16(1).u16(bits).u32(compression).u32(0).u32(0).u32(0).u32(0).u32(0);
    for (int row = h - 1; row >= 0; --row)
        for (int x = 0; x < w; ++x) // blue = x, green = row from the top, red = w, alpha
            b.u8(static_cast<std::uint8_t>(x))
                .u8(static_cast<std::uint8_t>(row))
                .u8(static_cast<std::uint8_t>(w))
                .u8(static_cast<std::uint8_t>(0x80 + x));
    for (int row = 0; row < h; ++row)
        b.u32(0);
    return b.bytes;
}

TEST(Icon, PixelsComeOutTopRowFirstAsArgb)
{
    std::optional<strellan::IconImage> icon = strellan::DecodeIconImage(IconImageBytes(3, 2));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width, 3);
    EXPECT_EQ(icon->height, 2);
    ASSERT_EQ(icon->argb.size(), 6u);
    EXPECT_EQ(icon->argb[0], 0x80030000u); // top row, x 0
    EXPECT_EQ(icon->argb[2], 0x82030002u);
    EXPECT_EQ(icon->argb[3], 0x80030100u); // second row
    EXPECT_EQ(icon->argb[5], 0x82030102u);
}

TEST(Icon, OnlyWholeUncompressed32BitImagesAreRead)
{
    EXPECT_FALSE(strellan::DecodeIconImage(IconImageBytes(4, 4, 8)));
    EXPECT_FALSE(strellan::DecodeIconImage(IconImageBytes(4, 4, 32, 3 /* BI_BITFIELDS */)));
    EXPECT_FALSE(strellan::DecodeIconImage(IconImageBytes(0, 4)));
    EXPECT_FALSE(strellan::DecodeIconImage(IconImageBytes(300, 1)));
    std::vector<std::uint8_t> image = IconImageBytes(4, 4);
    const std::size_t pixelsEnd = 40 + 4 * 4 * 4;
    EXPECT_TRUE(strellan::DecodeIconImage(Bytes(image).first(pixelsEnd)));
    for (std::size_t n = 0; n < pixelsEnd; ++n)
        EXPECT_FALSE(strellan::DecodeIconImage(Bytes(image).first(n))) << n;
}

// An icon group naming images of the given sizes, IDs from 1 up.
Writer IconRes(const std::vector<int>& sizes)
{
    Writer group;
    group.u16(0).u16(1).u16(static_cast<std::uint16_t>(sizes.size()));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto stored = static_cast<std::uint8_t>(sizes[i] == 256 ? 0 : sizes[i]);
        group.u8(stored).u8(stored).u8(0).u8(0).u16(1).u16(32).u32(0);
        group.u16(static_cast<std::uint16_t>(i + 1));
    }
    Writer res = NewRes();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        AddEntry(res, 3, static_cast<std::uint16_t>(i + 1),
                 IconImageBytes(std::min(sizes[i], 64), std::min(sizes[i], 64)));
    AddEntry(res, 14, 132, group.bytes);
    return res;
}

TEST(Icon, TheGroupsImageNearestTheAskedSizeIsLoaded)
{
    Writer res = IconRes({16, 32, 48, 256});
    struct Case {
        int asked, width;
    };
    for (Case c : {Case{16, 16}, {20, 16}, {32, 32}, {36, 32}, {44, 48}, {48, 48}, {200, 64}}) {
        std::optional<strellan::IconImage> icon =
            strellan::LoadIconFromRes(res.bytes, 132, c.asked, c.asked);
        ASSERT_TRUE(icon) << c.asked;
        EXPECT_EQ(icon->width, c.width) << c.asked; // 256 is stored as 64 here
    }
    EXPECT_FALSE(strellan::LoadIconFromRes(res.bytes, 133, 32, 32));
}

TEST(Icon, AGroupThatNamesAMissingImageLoadsNothing)
{
    Writer group;
    group.u16(0).u16(1).u16(1).u8(32).u8(32).u8(0).u8(0).u16(1).u16(32).u32(0).u16(9);
    Writer res = NewRes();
    AddEntry(res, 14, 132, group.bytes);
    EXPECT_FALSE(strellan::LoadIconFromRes(res.bytes, 132, 32, 32));
    // A cursor group (type 2) is no icon.
    Writer cursor;
    cursor.u16(0).u16(2).u16(0);
    Writer res2 = NewRes();
    AddEntry(res2, 14, 132, cursor.bytes);
    EXPECT_FALSE(strellan::LoadIconFromRes(res2.bytes, 132, 32, 32));
}

} // namespace
