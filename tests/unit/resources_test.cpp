// The compiled resources against the window's tables: the dialog template,
// the icon and the manifest, as windres writes them from resources/strellan.rc.
#include "core/reference_strings.h"
#include "platform/linux/res/dialog_template.h"
#include "platform/linux/res/res_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using strellan::Bytes;

std::vector<std::uint8_t> ReadFile(const char* path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        res = ReadFile(STRELLAN_RES_PATH);
        ASSERT_FALSE(res.empty()) << STRELLAN_RES_PATH;
    }

    Bytes Find(std::uint16_t type, std::uint16_t name)
    {
        std::optional<Bytes> b = strellan::FindResource(res, type, name);
        return b ? *b : Bytes{};
    }

    std::vector<std::uint8_t> res;
};

std::uint16_t Word(Bytes b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t Dword(Bytes b, std::size_t at)
{
    return Word(b, at) | std::uint32_t{Word(b, at + 2)} << 16;
}

struct ExpectedControl {
    const char* className;
    int id;
    const char* text;
    int x, y, cx, cy;
    std::uint32_t style;
};

TEST_F(ResourcesTest, DialogTemplateIsTheTunerWindow)
{
    Bytes bytes = Find(strellan::RES_TYPE_DIALOG, 1000);
    ASSERT_FALSE(bytes.empty());
    std::optional<strellan::DialogTemplate> t = strellan::ParseDialogTemplate(bytes);
    ASSERT_TRUE(t);

    EXPECT_EQ(t->style, 0x80C800CCu);
    EXPECT_EQ(t->exStyle, 0u);
    EXPECT_EQ(t->helpId, 0u);
    EXPECT_EQ(t->menu, "");
    EXPECT_EQ(t->className, "");
    EXPECT_EQ(t->title, "Strellan");
    EXPECT_EQ((std::vector<int>{t->x, t->y, t->cx, t->cy}), (std::vector<int>{0, 0, 174, 54}));
    EXPECT_EQ(t->typeface, "MS Shell Dlg");
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ(t->weight, 400);
    EXPECT_FALSE(t->italic);
    EXPECT_EQ(t->charset, 1);

    std::vector<ExpectedControl> expected = {
        {"Button", 1002, "Play", 7, 33, 32, 14, 0x50010000},
        {"Button", 1000, "Exit", 111, 33, 34, 14, 0x50010000},
        {"Button", 1003, "Stop", 59, 33, 32, 14, 0x50010000},
    };
    const char* labels[] = {"F#", "B", "E", "A", "D", "G", "B", "E"};
    for (int i = 0; i < 8; ++i)
        expected.push_back({"Static", -1, labels[i], 9 + 21 * i, 7, 8, 8, 0x50020000});
    const int radioIds[] = {1015, 1016, 1009, 1010, 1011, 1012, 1013, 1014};
    for (int i = 0; i < 8; ++i)
        expected.push_back({"Button", radioIds[i], "", 7 + 21 * i, 21, 11, 8, 0x50000009});

    ASSERT_EQ(t->items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const strellan::DialogItemTemplate& item = t->items[i];
        const ExpectedControl& e = expected[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        EXPECT_EQ(item.className, e.className);
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(item.text, e.text);
        EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}),
                  (std::vector<int>{e.x, e.y, e.cx, e.cy}));
        EXPECT_EQ(item.style, e.style);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_TRUE(item.creationData.empty());
    }
}

TEST_F(ResourcesTest, LabelsAndRadioButtonsFollowTheReferenceTable)
{
    // The .rc and the program's table must name the same strings in the
    // same order: Play asks the buttons by the table's IDs.
    std::optional<strellan::DialogTemplate> t =
        strellan::ParseDialogTemplate(Find(strellan::RES_TYPE_DIALOG, 1000));
    ASSERT_TRUE(t);
    std::vector<std::string> labels, tableLabels;
    std::vector<int> radios, tableIds;
    for (const strellan::DialogItemTemplate& item : t->items) {
        if (item.className == "Static")
            labels.push_back(item.text);
        else if ((item.style & 0xF) == 9)
            radios.push_back(item.id);
    }
    for (const ReferenceString& rs : REFERENCE_STRINGS) {
        tableLabels.push_back(rs.pszLabel);
        tableIds.push_back(rs.nControlId);
    }
    EXPECT_EQ(labels, tableLabels);
    EXPECT_EQ(radios, tableIds);
}

TEST_F(ResourcesTest, IconIsOne32x32ImageWithAlpha)
{
    Bytes group = Find(strellan::RES_TYPE_GROUP_ICON, 132);
    ASSERT_EQ(group.size(), 6u + 14u); // GRPICONDIR with one entry
    EXPECT_EQ(Word(group, 2), 1);      // icons
    ASSERT_EQ(Word(group, 4), 1);      // one image
    EXPECT_EQ(group[6], 32);           // width
    EXPECT_EQ(group[7], 32);           // height
    EXPECT_EQ(Word(group, 6 + 6), 32); // bits per pixel
    std::uint16_t imageId = Word(group, 6 + 12);

    Bytes image = Find(strellan::RES_TYPE_ICON, imageId);
    ASSERT_EQ(image.size(), Dword(group, 6 + 8));
    ASSERT_EQ(image.size(), 40u + 32 * 32 * 4 + 32 * 4);
    EXPECT_EQ(Dword(image, 4), 32u); // width
    EXPECT_EQ(Dword(image, 8), 64u); // height of colour and mask
    EXPECT_EQ(Word(image, 14), 32);  // bits per pixel

    // Transparent corners, an opaque guitar, and more red than anything else
    // where it is opaque.
    auto pixel = [&](int x, int yFromTop) {
        std::size_t at = 40 + (static_cast<std::size_t>(31 - yFromTop) * 32 + x) * 4;
        return std::vector<int>{image[at + 2], image[at + 1], image[at], image[at + 3]};
    };
    for (auto [x, y] : {std::pair{0, 0}, {31, 31}, {31, 0}})
        EXPECT_EQ(pixel(x, y)[3], 0) << x << "," << y;
    int opaque = 0, red = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            std::vector<int> p = pixel(x, y);
            if (p[3] == 255) {
                ++opaque;
                red += p[0] > 150 && p[1] < 80 && p[2] < 80;
            }
        }
    EXPECT_GT(opaque, 150);
    EXPECT_GT(red, opaque / 3);
    // The body sits at the lower left, the headstock at the upper right.
    EXPECT_EQ(pixel(7, 25)[3], 255);
    EXPECT_EQ(pixel(28, 4)[3], 255);
    EXPECT_EQ(pixel(4, 4)[3], 0);
}

TEST_F(ResourcesTest, ManifestAsksForNothingButAsInvoker)
{
    Bytes m = Find(strellan::RES_TYPE_MANIFEST, 1);
    std::string text(m.begin(), m.end());
    EXPECT_NE(text.find(R"(level="asInvoker")"), std::string::npos);
    EXPECT_NE(text.find(R"(uiAccess="false")"), std::string::npos);
    EXPECT_EQ(text.find("dependency"), std::string::npos); // no common controls 6
    EXPECT_EQ(text.find("dpiAware"), std::string::npos);
    EXPECT_EQ(text.find("dpiAwareness"), std::string::npos);
}

TEST_F(ResourcesTest, ThereIsNoVersionResource)
{
    EXPECT_FALSE(strellan::FindResource(res, 16 /* RT_VERSION */, 1));
}

TEST_F(ResourcesTest, TruncatedInputIsRejectedNotOverread)
{
    Bytes dialog = Find(strellan::RES_TYPE_DIALOG, 1000);
    ASSERT_FALSE(dialog.empty());
    for (std::size_t n = 0; n < dialog.size(); ++n)
        EXPECT_FALSE(strellan::ParseDialogTemplate(dialog.first(n))) << n;

    // A cut .res either lacks the dialog or yields it whole.
    Bytes all(res);
    for (std::size_t n = 0; n < all.size(); ++n) {
        std::optional<Bytes> found = strellan::FindResource(all.first(n), 5, 1000);
        if (found) {
            EXPECT_EQ(found->size(), dialog.size()) << n;
        }
    }
}

} // namespace
