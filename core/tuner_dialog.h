/*
 * tuner_dialog.h - the dialog procedure of Strellan's one window.
 */
#ifndef STRELLAN_CORE_TUNER_DIALOG_H
#define STRELLAN_CORE_TUNER_DIALOG_H

#include "platform/win32.h"

/* Set once, by Exit or IDCANCEL; the message loop ends when it is set. */
extern BOOL g_bQuit;

INT_PTR CALLBACK TunerDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif /* STRELLAN_CORE_TUNER_DIALOG_H */
