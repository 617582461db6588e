/*
 * winmain.cpp - Strellan's entry point: build the window, open the MIDI
 * Mapper, run the message loop until the user ends the program, then silence
 * and release the device.
 */
#include "platform/win32.h"

#include "core/reference_strings.h"
#include "core/tuner_dialog.h"
#include "midi/midi_out.h"
#include "resources/resource.h"

#include <stdlib.h>

/* Hands every message of the thread to the dialog manager until Close sets
   g_bQuit or a quit message arrives. Nothing in the program posts one, but
   someone else may; and GetMessageA's -1 (an invalid call) ends it too rather
   than spinning on the error. */
static void RunMessageLoop(HWND hDlg)
{
    MSG msg;

    while (!g_bQuit) {
        BOOL bRet = GetMessageA(&msg, NULL, 0, 0);
        if (bRet == 0 || bRet == -1)
            break;

        if (IsDialogMessageA(hDlg, &msg))
            continue;

        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hPrevInstance;
    (void)lpCmdLine;

    HWND hDlg =
        CreateDialogParamA(hInstance, MAKEINTRESOURCEA(IDD_TUNER), NULL, TunerDialogProc, 0);

    /* Without a window there is nothing to tune with, and nothing could ever
       end the loop: say so in the exit status, before anything is opened. */
    if (hDlg == NULL)
        return EXIT_FAILURE;

    ShowWindow(hDlg, nShowCmd);

    HICON hIcon =
        (HICON)LoadImageA(hInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 32, 32, LR_DEFAULTSIZE);
    SendMessageA(hDlg, WM_SETICON, ICON_BIG, (LPARAM)hIcon);

    OpenMidiOutput();

    CheckDlgButton(hDlg, IDC_STRING_E2, BST_CHECKED);

    RunMessageLoop(hDlg);

    /* Silence whatever still sounds, even on a device that failed to open
       (the send is swallowed there), then release the device. */
    midiOutShortMsg(g_hMidiOut, MIDIMSG_ALL_NOTES_OFF);
    CloseMidiOutput();

    return 0;
}
