/*
 * midi_none.cpp - the MIDI Mapper until the synthesizer stand-in exists:
 * there is no device, so the open fails and every send is refused, as
 * winmm does on a machine without MIDI output.
 */
#include "platform/win32.h"

extern "C" {

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen) {
    (void)dwCallback;
    (void)dwInstance;
    (void)fdwOpen;
    if (phmo)
        *phmo = nullptr;
    return uDeviceID == MIDI_MAPPER ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg) {
    (void)hmo;
    (void)dwMsg;
    return MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    (void)hmo;
    return MMSYSERR_INVALHANDLE;
}

} // extern "C"
