/*
 * midi_out.cpp - open and close the MIDI Mapper.
 */
#include "midi/midi_out.h"

#include <stdio.h>

HMIDIOUT g_hMidiOut = NULL;

static const char OPEN_FAILED_LINE[] = "There was an error opening MIDI Mapper!\r\n";

void OpenMidiOutput(void)
{
    /* CALLBACK_WINDOW with a null window: no notification of any kind. */
    MMRESULT mmr = midiOutOpen(&g_hMidiOut, MIDI_MAPPER, 0, 0, CALLBACK_WINDOW);
    if (mmr != MMSYSERR_NOERROR) {
        /* A failed open may still have written the handle; keep it null so
           the close at shutdown is skipped. */
        g_hMidiOut = NULL;

        /* The C runtime's text mode would make the CR LF into CR CR LF. A GUI
           program started without redirection has no stdout at all (a
           negative descriptor); then the line has nowhere to go. */
        int fd = _fileno(stdout);
        if (fd < 0)
            return;
        fflush(stdout);
        _setmode(fd, _O_BINARY);
        fputs(OPEN_FAILED_LINE, stdout);
        fflush(stdout);
    }
}

void CloseMidiOutput(void)
{
    if (g_hMidiOut != NULL)
        midiOutClose(g_hMidiOut);
}
