/*
 * midi_recorder.c - a recording stand-in for the three MIDI calls, the same
 * for both programs: built as a winmm.dll that Wine loads in place of its
 * own (WINEDLLOVERRIDES=winmm=n, from the program's folder), and linked
 * into a test build of the Linux program in place of the MIDI Mapper. So
 * one set of end-to-end expectations serves both. Each call appends one
 * line to the file named by STRELLAN_MIDI_LOG:
 *
 *     midiOutOpen device=0xFFFFFFFF callback=0x0 instance=0x0 flags=0x10000 -> 0
 *     midiOutShortMsg hmo=0x5EED msg=0x00001AC0 -> 0
 *     midiOutClose hmo=0x5EED -> 0
 *
 * STRELLAN_MIDI_OPEN_RESULT, when set, is the result that midiOutOpen gives
 * (a failure leaves the handle null, as winmm does).
 */
#ifdef _WIN32
/* We are winmm: define its functions rather than import them. */
#define _WINMM_
#endif
#include "platform/win32.h"
#ifndef _WIN32
#include "platform/linux/startup.h"
#endif

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static const HMIDIOUT RECORDER_HANDLE = (HMIDIOUT)0x5EED;
static BOOL s_bOpen = FALSE;

static void LogLine(const char* line)
{
    const char* path = getenv("STRELLAN_MIDI_LOG");
    FILE* f;
    if (path == NULL)
        return;
    /* Opened per line, so each line is on disk before the call returns. */
    f = fopen(path, "ab");
    if (f == NULL)
        return;
    fputs(line, f);
    fputs("\n", f);
    fclose(f);
}

#ifndef _WIN32
/* Nothing to get ready: the log is opened per line. */
void WinmmProcessAttach(void) {}
#endif

static unsigned long HandleValue(HMIDIOUT hmo)
{
    return (unsigned long)(uintptr_t)hmo;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    char line[160];
    const char* forced = getenv("STRELLAN_MIDI_OPEN_RESULT");
    MMRESULT mmr = MMSYSERR_NOERROR;

    if (forced != NULL)
        mmr = (MMRESULT)strtoul(forced, NULL, 0);
    else if (uDeviceID != MIDI_MAPPER)
        mmr = MMSYSERR_BADDEVICEID;
    else if (s_bOpen)
        mmr = MMSYSERR_ALLOCATED;

    if (phmo != NULL)
        *phmo = mmr == MMSYSERR_NOERROR ? RECORDER_HANDLE : NULL;
    if (mmr == MMSYSERR_NOERROR)
        s_bOpen = TRUE;

    snprintf(line, sizeof line,
             "midiOutOpen device=0x%lX callback=0x%lX instance=0x%lX flags=0x%lX -> %u",
             (unsigned long)uDeviceID, (unsigned long)dwCallback, (unsigned long)dwInstance,
             (unsigned long)fdwOpen, mmr);
    LogLine(line);
    return mmr;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    char line[96];
    MMRESULT mmr = s_bOpen && hmo == RECORDER_HANDLE ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    snprintf(line, sizeof line, "midiOutShortMsg hmo=0x%lX msg=0x%08lX -> %u", HandleValue(hmo),
             (unsigned long)dwMsg, mmr);
    LogLine(line);
    return mmr;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    char line[64];
    MMRESULT mmr = s_bOpen && hmo == RECORDER_HANDLE ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    if (mmr == MMSYSERR_NOERROR)
        s_bOpen = FALSE;
    snprintf(line, sizeof line, "midiOutClose hmo=0x%lX -> %u", HandleValue(hmo), mmr);
    LogLine(line);
    return mmr;
}
