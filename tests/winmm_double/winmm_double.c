/*
 * winmm_double.c - a recording stand-in for winmm.dll, for the end-to-end
 * tests of strellan.exe under Wine. Loaded in place of the real one with
 * WINEDLLOVERRIDES=winmm=n from the program's folder, it appends one line per
 * MIDI call to the file named by STRELLAN_MIDI_LOG:
 *
 *     midiOutOpen device=0xFFFFFFFF callback=0x0 instance=0x0 flags=0x10000 -> 0
 *     midiOutShortMsg hmo=0x5EED msg=0x00001AC0 -> 0
 *     midiOutClose hmo=0x5EED -> 0
 *
 * STRELLAN_MIDI_OPEN_RESULT, when set, is the result that midiOutOpen gives
 * (a failure leaves the handle null, as winmm does).
 */
#define WIN32_LEAN_AND_MEAN
/* We are winmm: define its functions rather than import them. */
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>

#include <stdio.h>
#include <stdlib.h>

static const HMIDIOUT DOUBLE_HANDLE = (HMIDIOUT)0x5EED;
static BOOL s_bOpen = FALSE;

static void LogLine(const char* line)
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("STRELLAN_MIDI_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    /* Opened per line, so each line is on disk before the call returns. */
    FILE* f = fopen(path, "ab");
    if (f == NULL)
        return;
    fputs(line, f);
    fputs("\n", f);
    fclose(f);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    char line[160];
    char result[16];
    MMRESULT mmr = MMSYSERR_NOERROR;

    if (GetEnvironmentVariableA("STRELLAN_MIDI_OPEN_RESULT", result, sizeof result) > 0)
        mmr = (MMRESULT)strtoul(result, NULL, 0);
    if (mmr == MMSYSERR_NOERROR && s_bOpen)
        mmr = MMSYSERR_ALLOCATED;

    if (phmo != NULL)
        *phmo = mmr == MMSYSERR_NOERROR ? DOUBLE_HANDLE : NULL;
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
    MMRESULT mmr = s_bOpen && hmo == DOUBLE_HANDLE ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    snprintf(line, sizeof line, "midiOutShortMsg hmo=0x%lX msg=0x%08lX -> %u",
             (unsigned long)(UINT_PTR)hmo, (unsigned long)dwMsg, mmr);
    LogLine(line);
    return mmr;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    char line[64];
    MMRESULT mmr = s_bOpen && hmo == DOUBLE_HANDLE ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    if (mmr == MMSYSERR_NOERROR)
        s_bOpen = FALSE;
    snprintf(line, sizeof line, "midiOutClose hmo=0x%lX -> %u", (unsigned long)(UINT_PTR)hmo, mmr);
    LogLine(line);
    return mmr;
}
