/*
 * keyboard.h - the thread's keyboard state, as Windows keeps it: which
 * virtual keys are down. The message loop feeds it every key event and
 * gets back the message Windows would deliver; GetKeyState answers from it.
 */
#ifndef STRELLAN_PLATFORM_LINUX_USER32_KEYBOARD_H
#define STRELLAN_PLATFORM_LINUX_USER32_KEYBOARD_H

#include "platform/linux/user32/user32.h"

#include <bitset>

namespace strellan {

class KeyboardState {
public:
    /* Shift and Alt as the key event's modifier mask has them. */
    void SetModifiers(bool shift, bool alt);

    /* The message for a key going down or up, for the window target:
       WM_SYSKEYDOWN and WM_SYSKEYUP with Alt held (as Alt+F4 is), else
       WM_KEYDOWN and WM_KEYUP; lParam with a repeat count of 1, KF_ALTDOWN
       with Alt, KF_REPEAT when the key was down already (a held key's
       auto-repeat) and KF_UP on release. */
    MSG KeyMessage(HWND target, UINT vk, bool down, DWORD time);

    bool IsDown(UINT vk) const { return vk < down_.size() && down_[vk]; }

private:
    std::bitset<256> down_;
};

/* The one the message loop keeps. */
KeyboardState& ThreadKeyboard();

} // namespace strellan

#endif
