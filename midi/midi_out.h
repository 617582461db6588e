/*
 * midi_out.h - Strellan's one connection to sound: the MIDI Mapper, opened
 * once at start-up and closed at shutdown.
 */
#ifndef STRELLAN_MIDI_MIDI_OUT_H
#define STRELLAN_MIDI_MIDI_OUT_H

#include "platform/win32.h"

/* Null until the open succeeds; never reopened or replaced. Sends on a null
   handle are swallowed by winmm with an error result that nobody reads. */
extern HMIDIOUT g_hMidiOut;

/* Opens the MIDI Mapper into g_hMidiOut. On failure writes the one line that
   the program ever prints to standard output, and returns; the program runs on
   without sound. */
void OpenMidiOutput(void);

/* Closes g_hMidiOut when the open succeeded. */
void CloseMidiOutput(void);

#endif /* STRELLAN_MIDI_MIDI_OUT_H */
