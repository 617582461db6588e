// Key messages as the message loop makes them from X key events: the
// flags of lParam, held keys repeating, and Alt making system keys.
#include "platform/linux/user32/keyboard.h"

#include <gtest/gtest.h>

namespace {

using strellan::KeyboardState;

HWND const kTarget = reinterpret_cast<HWND>(0x10010);

WORD Flags(const MSG& m)
{
    return HIWORD(m.lParam);
}

TEST(Keyboard, AHeldKeyRepeatsAsKeyDownsWithTheRepeatFlag)
{
    KeyboardState k;
    MSG first = k.KeyMessage(kTarget, VK_SPACE, true, 100);
    EXPECT_EQ(first.hwnd, kTarget);
    EXPECT_EQ(first.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(first.wParam, static_cast<WPARAM>(VK_SPACE));
    EXPECT_EQ(LOWORD(first.lParam), 1) << "repeat count";
    EXPECT_EQ(Flags(first), 0);
    EXPECT_EQ(first.time, 100u);
    for (int i = 0; i < 3; ++i) {
        MSG again = k.KeyMessage(kTarget, VK_SPACE, true, 0);
        EXPECT_EQ(again.message, static_cast<UINT>(WM_KEYDOWN));
        EXPECT_EQ(Flags(again), KF_REPEAT);
    }
    MSG up = k.KeyMessage(kTarget, VK_SPACE, false, 0);
    EXPECT_EQ(up.message, static_cast<UINT>(WM_KEYUP));
    EXPECT_EQ(Flags(up), KF_REPEAT | KF_UP) << "a release was down before";
    // Pressed anew: no repeat.
    EXPECT_EQ(Flags(k.KeyMessage(kTarget, VK_SPACE, true, 0)), 0);
}

TEST(Keyboard, KeysRepeatEachOnItsOwn)
{
    KeyboardState k;
    k.KeyMessage(kTarget, VK_TAB, true, 0);
    EXPECT_EQ(Flags(k.KeyMessage(kTarget, VK_RIGHT, true, 0)), 0);
    EXPECT_EQ(Flags(k.KeyMessage(kTarget, VK_TAB, true, 0)), KF_REPEAT);
    k.KeyMessage(kTarget, VK_TAB, false, 0);
    EXPECT_EQ(Flags(k.KeyMessage(kTarget, VK_RIGHT, true, 0)), KF_REPEAT);
}

TEST(Keyboard, AltMakesSystemKeysAndShiftIsKeptForGetKeyState)
{
    KeyboardState k;
    k.SetModifiers(false, true);
    MSG down = k.KeyMessage(kTarget, VK_F4, true, 0);
    EXPECT_EQ(down.message, static_cast<UINT>(WM_SYSKEYDOWN));
    EXPECT_EQ(Flags(down), KF_ALTDOWN);
    MSG up = k.KeyMessage(kTarget, VK_F4, false, 0);
    EXPECT_EQ(up.message, static_cast<UINT>(WM_SYSKEYUP));
    EXPECT_EQ(Flags(up), KF_ALTDOWN | KF_REPEAT | KF_UP);

    k.SetModifiers(true, false);
    EXPECT_TRUE(k.IsDown(VK_SHIFT));
    EXPECT_FALSE(k.IsDown(VK_MENU));
    EXPECT_EQ(k.KeyMessage(kTarget, VK_TAB, true, 0).message, static_cast<UINT>(WM_KEYDOWN));

    // The thread's own state is what GetKeyState answers, high bit for down.
    strellan::ThreadKeyboard().SetModifiers(true, false);
    EXPECT_LT(strellan::GetKeyState(VK_SHIFT), 0);
    strellan::ThreadKeyboard().SetModifiers(false, false);
    EXPECT_EQ(strellan::GetKeyState(VK_SHIFT), 0);
}

} // namespace
