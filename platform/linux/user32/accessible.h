/*
 * accessible.h - the dialog on the accessibility bus, as a screen reader
 * sees it: ATK objects for the dialog and its controls, published over
 * AT-SPI by ATK's bridge. Started only when the desktop wants its programs
 * on the accessibility bus; otherwise every call here does nothing.
 */
#ifndef STRELLAN_PLATFORM_LINUX_USER32_ACCESSIBLE_H
#define STRELLAN_PLATFORM_LINUX_USER32_ACCESSIBLE_H

#include "platform/linux/user32/user32.h"

namespace strellan {

/* Joins the accessibility bus when the desktop names one (the root
   window's AT_SPI_BUS, or AT_SPI_BUS_ADDRESS), or once the session bus's
   org.a11y.Status says accessibility is enabled, unless NO_AT_BRIDGE=1. */
void StartAccessibility();
/* The bus joined, or the session bus asked: GLib's main context has work
   for the message loop. */
bool AccessibilityListening();

/* a11y_bus.cpp: the bus named by the environment or the root window; and
   the session bus's org.a11y.Status watched until it says enabled, when
   enabled() runs, once, from GLib's main context. */
bool AccessibilityBusNamed();
void WatchAccessibilityStatus(void (*enabled)());
bool AccessibilityStatusWatched();

/* What the dialog manager tells it. */
void AccessibleDialogCreated(HWND hDlg);
void AccessibleDestroyed(HWND hwnd);
void AccessibleFocusChanged(HWND old, HWND now);
void AccessibleCheckChanged(HWND hwnd, bool checked);
void AccessibleActiveChanged(HWND hwnd, bool active);

} // namespace strellan

#endif
