/*
 * midi_recorder.cpp - a recording stand-in for the three MIDI calls, linked
 * into a test build of the Linux program. It writes the same log as the
 * recording winmm.dll under Wine, so one set of end-to-end expectations
 * serves both programs: one line per call to the file named by
 * STRELLAN_MIDI_LOG, and STRELLAN_MIDI_OPEN_RESULT forces the open's result.
 */
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>

namespace {

HMIDIOUT const kHandle = reinterpret_cast<HMIDIOUT>(0x5EED);
bool g_open = false;

void LogLine(const char* line)
{
    const char* path = std::getenv("STRELLAN_MIDI_LOG");
    if (!path)
        return;
    /* Opened per line, so each line is on disk before the call returns. */
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%s\n", line);
        std::fclose(f);
    }
}

} // namespace

extern "C" {

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    MMRESULT mmr = MMSYSERR_NOERROR;
    if (const char* forced = std::getenv("STRELLAN_MIDI_OPEN_RESULT"))
        mmr = static_cast<MMRESULT>(std::strtoul(forced, nullptr, 0));
    else if (uDeviceID != MIDI_MAPPER)
        mmr = MMSYSERR_BADDEVICEID;
    else if (g_open)
        mmr = MMSYSERR_ALLOCATED;
    if (phmo)
        *phmo = mmr == MMSYSERR_NOERROR ? kHandle : nullptr;
    g_open = g_open || mmr == MMSYSERR_NOERROR;

    char line[160];
    std::snprintf(line, sizeof line,
                  "midiOutOpen device=0x%lX callback=0x%lX instance=0x%lX flags=0x%lX -> %u",
                  static_cast<unsigned long>(uDeviceID), static_cast<unsigned long>(dwCallback),
                  static_cast<unsigned long>(dwInstance), static_cast<unsigned long>(fdwOpen), mmr);
    LogLine(line);
    return mmr;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    MMRESULT mmr = g_open && hmo == kHandle ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    char line[96];
    std::snprintf(line, sizeof line, "midiOutShortMsg hmo=0x%lX msg=0x%08lX -> %u",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hmo)),
                  static_cast<unsigned long>(dwMsg), mmr);
    LogLine(line);
    return mmr;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    MMRESULT mmr = g_open && hmo == kHandle ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    if (mmr == MMSYSERR_NOERROR)
        g_open = false;
    char line[64];
    std::snprintf(line, sizeof line, "midiOutClose hmo=0x%lX -> %u",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hmo)), mmr);
    LogLine(line);
    return mmr;
}

} // extern "C"
