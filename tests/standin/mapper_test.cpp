// The Linux MIDI Mapper's answers to its caller, as winmm gives them. Run
// with no sound server and no ALSA device (see tests/CMakeLists.txt), so that
// every open fails the way it does on a machine without sound.
#include "platform/win32.h"

#include <gtest/gtest.h>

namespace {

TEST(MidiMapper, OnlyTheMapperDeviceExists)
{
    for (UINT device : {0u, 1u, 0xFFFEu, 0x7FFFFFFFu}) {
        HMIDIOUT h = reinterpret_cast<HMIDIOUT>(0x1234);
        EXPECT_EQ(midiOutOpen(&h, device, 0, 0, CALLBACK_WINDOW), (MMRESULT)MMSYSERR_BADDEVICEID)
            << device;
        EXPECT_EQ(h, nullptr) << device;
    }
}

TEST(MidiMapper, AnOpenWithoutSoundFailsAndLeavesTheHandleNull)
{
    HMIDIOUT h = reinterpret_cast<HMIDIOUT>(0x1234);
    MMRESULT r = midiOutOpen(&h, MIDI_MAPPER, 0, 0, CALLBACK_WINDOW);
    EXPECT_NE(r, (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(h, nullptr);
    // And the caller's sends and close on that handle are refused quietly.
    EXPECT_EQ(midiOutShortMsg(h, 0x007F2890), (MMRESULT)MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiOutClose(h), (MMRESULT)MMSYSERR_INVALHANDLE);
}

TEST(MidiMapper, NoHandleOutParameterIsAnInvalidParameter)
{
    EXPECT_EQ(midiOutOpen(nullptr, MIDI_MAPPER, 0, 0, CALLBACK_WINDOW),
              (MMRESULT)MMSYSERR_INVALPARAM);
}

TEST(MidiMapper, HandlesItNeverGaveOutAreInvalid)
{
    for (uintptr_t bogus : {uintptr_t{0}, uintptr_t{1}, uintptr_t{0x5EED}, ~uintptr_t{0}}) {
        HMIDIOUT h = reinterpret_cast<HMIDIOUT>(bogus);
        EXPECT_EQ(midiOutShortMsg(h, 0x00007BB0), (MMRESULT)MMSYSERR_INVALHANDLE) << bogus;
        EXPECT_EQ(midiOutClose(h), (MMRESULT)MMSYSERR_INVALHANDLE) << bogus;
    }
}

} // namespace
