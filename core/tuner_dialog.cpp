/*
 * tuner_dialog.cpp - turns the window's commands into MIDI words.
 *
 * The procedure keeps no state: the chosen string lives only in the radio
 * buttons, and Play asks them at the moment of the press.
 */
#include "core/tuner_dialog.h"

#include "core/reference_strings.h"
#include "midi/midi_out.h"
#include "resources/resource.h"

BOOL g_bQuit = FALSE;

/* Strike the first checked string, in priority order. The program change goes
   out on every press, before the note, so the note is the jazz guitar whatever
   else has used channel 1 meanwhile. No Note Off for an earlier note: it dies
   away by itself or at Stop. */
static void Play(HWND hDlg)
{
    midiOutShortMsg(g_hMidiOut, MIDIMSG_PROGRAM_GUITAR);

    for (const ReferenceString& rs : REFERENCE_STRINGS) {
        if (IsDlgButtonChecked(hDlg, rs.nControlId) != BST_UNCHECKED) {
            midiOutShortMsg(g_hMidiOut, rs.dwNoteOn);
            break;
        }
    }
}

/* Destroy the window and let the message loop see the flag once the current
   message has been handled; the loop silences and closes the device. */
static void Close(HWND hDlg)
{
    DestroyWindow(hDlg);
    g_bQuit = TRUE;
}

INT_PTR CALLBACK TunerDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;

    switch (uMsg) {
    case WM_INITDIALOG:
        /* TRUE: the dialog manager puts the focus on the first tab stop, Play. */
        return TRUE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PLAY:
            Play(hDlg);
            break;
        case IDC_STOP:
            midiOutShortMsg(g_hMidiOut, MIDIMSG_ALL_NOTES_OFF);
            break;
        case IDC_EXIT:
        case IDCANCEL:
            Close(hDlg);
            break;
        default:
            /* The radio buttons, IDOK and anything else: answered, nothing sent. */
            break;
        }
        return TRUE;
    }

    return FALSE;
}
