/*
 * keyboard.cpp - the keyboard state kept from the key events, and the
 * key messages made with it, their flags as Windows sets them.
 */
#include "platform/linux/user32/keyboard.h"

namespace strellan {

namespace {

/* The high word of a key message's lParam. */
LPARAM KeyFlags(WORD flags)
{
    return static_cast<LPARAM>(static_cast<DWORD>(flags) << 16);
}

} // namespace

void KeyboardState::SetModifiers(bool shift, bool alt)
{
    down_[VK_SHIFT] = shift;
    down_[VK_MENU] = alt;
}

MSG KeyboardState::KeyMessage(HWND target, UINT vk, bool down, DWORD time)
{
    const bool alt = IsDown(VK_MENU);
    const bool wasDown = IsDown(vk);
    if (vk < down_.size())
        down_[vk] = down;

    UINT message = down ? WM_KEYDOWN : WM_KEYUP;
    if (alt)
        message = down ? WM_SYSKEYDOWN : WM_SYSKEYUP;
    WORD flags = 0;
    if (alt)
        flags |= KF_ALTDOWN;
    if (wasDown)
        flags |= KF_REPEAT;
    if (!down)
        flags |= KF_UP;
    return MakeMessage(target, message, vk, 1 | KeyFlags(flags), time);
}

KeyboardState& ThreadKeyboard()
{
    static KeyboardState keyboard;
    return keyboard;
}

SHORT GetKeyState(int vk)
{
    constexpr SHORT kDown = static_cast<SHORT>(0x8000);
    return ThreadKeyboard().IsDown(static_cast<UINT>(vk)) ? kDown : 0;
}

} // namespace strellan
