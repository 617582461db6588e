/*
 * accessible.h - the dialog on the accessibility bus, as a screen reader
 * sees it: ATK objects for the dialog and its controls, published over
 * AT-SPI by ATK's bridge. Started only when the desktop runs an
 * accessibility bus; otherwise every call here does nothing.
 */
#ifndef STRELLAN_PLATFORM_LINUX_USER32_ACCESSIBLE_H
#define STRELLAN_PLATFORM_LINUX_USER32_ACCESSIBLE_H

#include "platform/linux/user32/user32.h"

namespace strellan {

/* Joins the accessibility bus when the desktop advertises one (the root
   window's AT_SPI_BUS, or AT_SPI_BUS_ADDRESS), unless NO_AT_BRIDGE=1. */
void StartAccessibility();
bool AccessibilityStarted();

/* What the dialog manager tells it. */
void AccessibleDialogCreated(HWND hDlg);
void AccessibleDestroyed(HWND hwnd);
void AccessibleFocusChanged(HWND old, HWND now);
void AccessibleCheckChanged(HWND hwnd, bool checked);
void AccessibleActiveChanged(HWND hwnd, bool active);

} // namespace strellan

#endif
